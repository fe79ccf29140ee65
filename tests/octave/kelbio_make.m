% make.m, as a MATLAB owner runs it, here with Octave's mex (same arguments
% on Linux): it must build a kelbio.mex that works on the bus and a
% kelbio_pace.mex that paces, both carrying the C++ runtime inside (MATLAB
% loads an older one first), and hand mex the sources, defines and libraries
% the CMake build uses on each platform.  Bus: one TIRK board.  KELB_TOP is
% the source tree; KELB_SOURCES_<platform> and KELB_PACE_SOURCES_<platform>
% the CMake build's sources (relative, ':' between), KELB_VERSION its version.

%!test
%! top = getenv ('KELB_TOP');
%! addpath (fullfile (top, 'packaging'));
%! for platform = {'linux', 'windows'}
%!   [args, pace] = make ('platform', platform{1}, 'dryrun');
%!   sources = @(a) sort (a(! cellfun ('isempty', regexp (a, '\.cpp$'))));
%!   want = @(name) sort (strcat ([top '/'], strsplit (getenv ([name toupper(platform{1})]), ':')));
%!   assert (sources (args), want ('KELB_SOURCES_'));
%!   assert (sources (pace), want ('KELB_PACE_SOURCES_'));
%!   assert (any (strcmp (args, ['-DKELBIO_VERSION=' getenv('KELB_VERSION')])));
%!   windows = {'-DKELB_CYUSB', '-lsetupapi', '-luser32'};
%!   is_windows = strcmp (platform{1}, 'windows');
%!   assert (cellfun (@(a) any (strcmp (args, a)), windows), repmat (is_windows, 1, 3));
%!   assert (any (strcmp (args, '-lusb-1.0')), ! is_windows);
%!   assert (any (strcmp (args, '-D_FILE_OFFSET_BITS=64')), ! is_windows);
%!   # The compiler's runtime goes inside the MEX file.
%!   runtime = {'LDFLAGS=$LDFLAGS -static-libstdc++ -static-libgcc', 'LDFLAGS=$LDFLAGS -static'};
%!   assert (any (strcmp (args, runtime{1 + is_windows})));
%!   assert (any (strcmp (pace, runtime{1 + is_windows})));
%! end

%!test
%! out = tempname ();
%! unwind_protect
%!   make ('outdir', out);
%!   addpath (out);
%!   assert (which ('kelbio'), fullfile (out, 'kelbio.mex'));
%!   bytes = fileread (fullfile (out, 'kelbio.mex'));
%!   assert (! isempty (strfind (bytes, ['kelbio version ' getenv('KELB_VERSION')])));
%!   assert (! isempty (strfind (fileread (fullfile (out, 'Contents.m')), ['% Version ' getenv('KELB_VERSION')])));
%!   p = kelbio ('Open', 'TIRK1');
%!   [d, s] = kelbio ('Read', p);
%!   assert (s, 0);
%!   assert (size (d), [9 1]);
%!   assert (kelbio ('Close', p), 0);
%!   # An error raised by the host unwinds through the statically linked runtime.
%!   fail ("kelbio ('Open', 'TIRK2')", 'No matching device found!');
%!   assert (which ('kelbio_pace'), fullfile (out, 'kelbio_pace.mex'));
%!   kelbio_pace ('start', 1e-3);
%!   for k = 1:10, kelbio_pace (); end
%!   s = kelbio_pace ('stats');
%!   assert (s.Periods, 10);
%!   # Neither the C++ runtime nor libgcc is taken from the system.
%!   for f = {'kelbio.mex', 'kelbio_pace.mex'}
%!     [rc, dyn] = system (['objdump -p -T ' fullfile(out, f{1})]);
%!     assert (rc, 0);
%!     assert (! isempty (regexp (dyn, 'NEEDED +libusb-1\.0\.so', 'once')), strcmp (f{1}, 'kelbio.mex'));
%!     bad = regexp (dyn, '(GLIBCXX|CXXABI|GCC)_[0-9.]+|NEEDED +lib(stdc\+\+|gcc_s)[^ \n]*', 'match');
%!     assert (isempty (bad), '%s takes from the system: %s', f{1}, strjoin (unique (bad), ', '));
%!   end
%!   assert (! isempty (strfind (evalc ('help kelbio'), 'kelbio.mex')));
%!   # The toolbox beside them.
%!   for f = {'kelbio_pace.m', 'kelbio_board.m', 'kelbio_record.m', 'kelbio_liveview.m'}
%!     assert (exist (fullfile (out, f{1}), 'file'), 2);
%!   end
%! unwind_protect_cleanup
%!   kelbio ('CloseAll');
%!   clear kelbio_pace
%!   rmpath (out);
%!   confirm_recursive_rmdir (false, 'local');
%!   rmdir (out, 's');
%! end_unwind_protect
