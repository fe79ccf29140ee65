% make.m, as a MATLAB owner runs it, here with Octave's mex (same arguments
% on Linux): it must build a kelbio.mex that works on the bus, carries the
% C++ runtime inside (MATLAB loads an older one first), and hand mex the
% sources, defines and libraries the CMake build uses on each platform.
% Bus: one TIRK board.  KELB_TOP is the source tree; KELB_SOURCES_<platform>
% the CMake build's sources (relative, ':' between), KELB_VERSION its version.

%!test
%! top = getenv ('KELB_TOP');
%! addpath (fullfile (top, 'packaging'));
%! for platform = {'linux', 'windows'}
%!   args = make ('platform', platform{1}, 'dryrun');
%!   cpp = args(! cellfun ('isempty', regexp (args, '\.cpp$')));
%!   want = strcat ([top '/'], strsplit (getenv (['KELB_SOURCES_' toupper(platform{1})]), ':'));
%!   assert (sort (cpp), sort (want));
%!   assert (any (strcmp (args, ['-DKELBIO_VERSION=' getenv('KELB_VERSION')])));
%!   windows = {'-DKELB_CYUSB', '-lsetupapi', '-luser32'};
%!   is_windows = strcmp (platform{1}, 'windows');
%!   assert (cellfun (@(a) any (strcmp (args, a)), windows), repmat (is_windows, 1, 3));
%!   assert (any (strcmp (args, '-lusb-1.0')), ! is_windows);
%!   assert (any (strcmp (args, '-D_FILE_OFFSET_BITS=64')), ! is_windows);
%!   # The compiler's runtime goes inside the MEX file.
%!   runtime = {'LDFLAGS=$LDFLAGS -static-libstdc++ -static-libgcc', 'LDFLAGS=$LDFLAGS -static'};
%!   assert (any (strcmp (args, runtime{1 + is_windows})));
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
%!   # Neither the C++ runtime nor libgcc is taken from the system.
%!   [rc, dyn] = system (['objdump -p -T ' fullfile(out, 'kelbio.mex')]);
%!   assert (rc, 0);
%!   assert (! isempty (regexp (dyn, 'NEEDED +libusb-1\.0\.so', 'once')));
%!   bad = regexp (dyn, '(GLIBCXX|CXXABI|GCC)_[0-9.]+|NEEDED +lib(stdc\+\+|gcc_s)[^ \n]*', 'match');
%!   assert (isempty (bad), 'kelbio.mex takes from the system: %s', strjoin (unique (bad), ', '));
%!   assert (! isempty (strfind (evalc ('help kelbio'), 'kelbio.mex')));
%! unwind_protect_cleanup
%!   kelbio ('CloseAll');
%!   rmpath (out);
%!   confirm_recursive_rmdir (false, 'local');
%!   rmdir (out, 's');
%! end_unwind_protect
