## SPDX-License-Identifier: MIT
## Run by `pkg install` once the files are in place: Octave shows the help of
## a MEX function only from a .m file of the same name in the MEX file's own
## folder, and pkg puts the MEX files in the architecture's folder, apart
## from inst/.
function post_install (desc)
  for name = {"kelbio", "kelbio_pace"}
    mexfile = dir (fullfile (desc.archprefix, "*", [name{1} ".mex"]));
    if (numel (mexfile) != 1)
      error ("kelbio: %s.mex was not installed", name{1});
    endif
    [ok, msg] = movefile (fullfile (desc.dir, [name{1} ".m"]), mexfile.folder);
    if (! ok)
      error ("kelbio: cannot move %s.m beside %s.mex: %s", name{1}, name{1}, msg);
    endif
  endfor
endfunction
