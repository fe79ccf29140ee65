function [status, text] = kelbio_setup_udev (varargin)
%KELBIO_SETUP_UDEV  Let the boards be opened without root (Linux), in one step.
%   KELBIO_SETUP_UDEV () runs kelbio-setup-udev, which installs kelbio's udev
%   rules into /etc/udev/rules.d with sudo, has udev reload them, and says
%   what it changed and whether you must log out and in.  sudo asks for your
%   password in the terminal MATLAB or Octave was started from; started
%   from a desktop menu, there is none: run the command it prints in a
%   terminal instead.
%
%   KELBIO_SETUP_UDEV ('--add-to-plugdev') also adds you to the plugdev
%   group, which users who work from ssh or another seat need.
%   KELBIO_SETUP_UDEV ('--dry-run') only says what it would do.
%   [STATUS, TEXT] = KELBIO_SETUP_UDEV (...) returns the exit status and the
%   text instead of printing it.
%
%   The script lies beside this file in the Linux release archive and in
%   packaging/udev of the sources.

% SPDX-License-Identifier: MIT

  here = fileparts (mfilename ('fullpath'));
  script = fullfile (here, 'kelbio-setup-udev');
  if (exist (script, 'file') ~= 2)
    script = fullfile (fileparts (here), 'packaging', 'udev', 'kelbio-setup-udev');
  end
  if (exist (script, 'file') ~= 2)
    error ('kelbio_setup_udev: kelbio-setup-udev is not beside %s', here);
  end
  command = ['"' script '"'];
  for k = 1:numel (varargin)
    command = [command ' ''' strrep(varargin{k}, '''', '''\''''') ''''];
  end
  [s, t] = system ([command ' 2>&1']);
  if (nargout > 0)
    status = s;
    text = t;
    return
  end
  fprintf ('%s', t);
  if (s ~= 0)
    fprintf ('kelbio-setup-udev failed; in a terminal, run:\n  %s\n', command);
  end
end
