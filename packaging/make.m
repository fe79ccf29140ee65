function [args, pace_args] = make(varargin)
%MAKE Build kelbio.<mexext> and kelbio_pace.<mexext> with this MATLAB's mex.
%   make builds the kelbio MEX file and the pacing call kelbio_pace for this
%   computer with the mex command of the MATLAB (or GNU Octave) that runs it,
%   and writes kelbio.<mexext> and kelbio_pace.<mexext> together with the
%   toolbox (kelbio.m for help kelbio, kelbio_pace.m, the board object,
%   record and live view) and Contents.m (for ver) into the folder
%   build/matlab beside this one. Add that folder to the path:
%     cd /path/to/kelbio/packaging
%     make
%     addpath(fullfile(fileparts(pwd), 'build', 'matlab'))
%
%   make('outdir', DIR) writes the files into DIR instead.
%   make('platform', 'linux') or make('platform', 'windows') chooses the
%   transport; the default is this computer's: libusb-1.0 on Linux (found
%   with pkg-config; Debian and Ubuntu: apt-get install libusb-1.0-0-dev),
%   the CyUSB driver on Windows (SetupAPI and USER32, part of Windows).
%   [args, pace_args] = make(..., 'dryrun') returns the arguments mex would
%   get for kelbio and for kelbio_pace and builds nothing.
%
%   The build is the one of the CMake tree: C++17, the 32-bit-dimension MX
%   API that kelbio was written for (-compatibleArrayDims in MATLAB), the
%   version from project() in CMakeLists.txt compiled in, 64-bit file
%   offsets, and the compiler's C++ runtime linked into both MEX files: MATLAB
%   loads its own, older libstdc++ first, against which a MEX file that needs
%   a newer one fails to load ("GLIBCXX_3.4.xx not found").

% SPDX-License-Identifier: MIT

top = fileparts(fileparts(mfilename('fullpath')));
outdir = fullfile(top, 'build', 'matlab');
if ispc, platform = 'windows'; else, platform = 'linux'; end
dryrun = false;
k = 1;
while k <= numel(varargin)
  switch lower(varargin{k})
    case 'outdir'
      outdir = varargin{k + 1}; k = k + 2;
    case 'platform'
      platform = lower(varargin{k + 1}); k = k + 2;
    case 'dryrun'
      dryrun = true; k = k + 1;
    otherwise
      error('make: unknown option ''%s''', varargin{k});
  end
end
octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;

cmake = fileread(fullfile(top, 'CMakeLists.txt'));
version = regexp(cmake, 'project\(kelbio VERSION ([0-9.]+)', 'tokens', 'once');
if isempty(version)
  error('make: no version in %s', fullfile(top, 'CMakeLists.txt'));
end
version = version{1};

switch platform
  case 'linux'
    transport = {'usb', 'linux'};
    clock = 'clock_linux.cpp';
    [rc, out] = system('pkg-config --cflags --libs libusb-1.0');
    if rc ~= 0
      error('make: pkg-config finds no libusb-1.0 (Debian, Ubuntu: apt-get install libusb-1.0-0-dev pkg-config)');
    end
    % 32-bit builds: without 64-bit offsets readdir fails on ext4 and the
    % boards' sysfs entries are not found.
    flags = [{'-D_FILE_OFFSET_BITS=64'}, strsplit(strtrim(out))];
    runtime = '-static-libstdc++ -static-libgcc';
  case 'windows'
    transport = {'usb', 'windows'};
    clock = 'clock_windows.cpp';
    flags = {'-DKELB_CYUSB', ['-I' fullfile(top, 'usb', 'windows')], '-lsetupapi', '-luser32'};
    % MinGW's runtime DLLs are on no user's PATH; Microsoft's compiler
    % ignores LDFLAGS.
    runtime = '-static';
  otherwise
    error('make: platform is ''linux'' or ''windows'', not ''%s''', platform);
end

sources = {};
for d = {{'gateway'}, {'models'}, transport}
  folder = fullfile(top, d{1}{:});
  files = dir(fullfile(folder, '*.cpp'));
  sources = [sources, cellfun(@(f) fullfile(folder, f), sort({files.name}), 'UniformOutput', false)];
end

args = [{['-DKELBIO_VERSION=' version], ['-I' fullfile(top, 'include')], ['-I' top]}, flags];
% The pacing call needs only the C library (and kernel32 on Windows).
pace_sources = cellfun(@(f) fullfile(top, 'tools', 'pace', f), {'pacemex.cpp', 'schedule.cpp', clock}, ...
                       'UniformOutput', false);
pace_args = {['-I' top]};
% VAR=value arguments change the variables of MATLAB's compiler options;
% MinGW reads CXXFLAGS and LDFLAGS, Microsoft's compiler COMPFLAGS.  Octave's
% mkoctfile reads the same variables from the environment instead.
vars = {['LDFLAGS=$LDFLAGS ' runtime]};
if octave
  % mkoctfile --mex: Octave's own mex.h; its default C++ is C++17.
  args = [{'-DKELB_OCTAVE'}, vars, args, sources, {'-o', fullfile(outdir, ['kelbio.' mexext])}];
  pace_args = [vars, pace_args, pace_sources, {'-o', fullfile(outdir, ['kelbio_pace.' mexext])}];
else
  % MATLAB's compiler options name an older C++ by default.
  vars = [{'CXXFLAGS=$CXXFLAGS -std=c++17'}, vars];
  if strcmp(platform, 'windows')
    vars = [vars, {'COMPFLAGS=$COMPFLAGS /std:c++17'}];
  end
  args = [{'-compatibleArrayDims'}, vars, args, sources, {'-output', 'kelbio', '-outdir', outdir}];
  pace_args = [{'-compatibleArrayDims'}, vars, pace_args, pace_sources, ...
               {'-output', 'kelbio_pace', '-outdir', outdir}];
end
if dryrun
  return
end

if ~exist(outdir, 'dir') && ~mkdir(outdir)
  error('make: cannot make the folder %s', outdir);
end
build_mex(args, octave);
build_mex(pace_args, octave);
% kelbio_boards.m stays out: it runs kelbio-scan, which only the CMake build makes.
for f = {'kelbio.m', 'kelbio_pace.m', 'kelbio_board.m', 'kelbio_record.m', 'kelbio_liveview.m'}
  copyfile(fullfile(top, 'toolbox', f{1}), outdir);
end
contents = strrep(fileread(fullfile(top, 'toolbox', 'Contents.m.in')), '@PROJECT_VERSION@', version);
fid = fopen(fullfile(outdir, 'Contents.m'), 'w');
fwrite(fid, contents);
fclose(fid);
fprintf('kelbio %s: %s, %s\n', version, fullfile(outdir, ['kelbio.' mexext]), ['kelbio_pace.' mexext]);
end

function build_mex(args, octave)
if ~octave
  mex(args{:});
  return
end
isvar = ~cellfun('isempty', regexp(args, '^[A-Z]+=', 'once'));
saved = {};
for a = args(isvar)
  [name, value] = strtok(a{1}, '=');
  saved(end + 1, :) = {name, getenv(name)};
  setenv(name, strrep(value(2:end), ['$' name], strtrim(mkoctfile('-p', name))));
end
try
  mex(args{~isvar});
catch err
  restore_env(saved);
  rethrow(err);
end
restore_env(saved);
end

function restore_env(saved)
for k = 1:size(saved, 1)
  if isempty(saved{k, 2})
    unsetenv(saved{k, 1});
  else
    setenv(saved{k, 1}, saved{k, 2});
  end
end
end
