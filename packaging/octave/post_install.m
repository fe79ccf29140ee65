## SPDX-License-Identifier: MIT
## Run by `pkg install` once the files are in place: Octave shows the help of
## a MEX function only from a kelbio.m in the MEX file's own folder, and pkg
## puts kelbio.mex in the architecture's folder, apart from inst/.
function post_install (desc)
  mexfile = dir (fullfile (desc.archprefix, "*", "kelbio.mex"));
  if (numel (mexfile) != 1)
    error ("kelbio: kelbio.mex was not installed");
  endif
  [ok, msg] = movefile (fullfile (desc.dir, "kelbio.m"), mexfile.folder);
  if (! ok)
    error ("kelbio: cannot move kelbio.m beside kelbio.mex: %s", msg);
  endif
endfunction
