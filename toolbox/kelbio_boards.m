function boards = kelbio_boards ()
% KELBIO_BOARDS  The kelbio boards on the USB bus and the port names that reach them.
%   B = KELBIO_BOARDS () runs kelbio-scan and returns a struct array with one
%   element per board, in the order Open counts them, with the fields
%     port         the port name Open binds to the board ('TIRK1', ...), or ''
%                  when no port name reaches it
%     model        the model its product string's tag names ('TIRK', ...)
%     bus, address where it sits on the USB bus (on Windows the bus is 0)
%     vendor, product  its USB ids as hex text ('1209', ...)
%     string       its product string
%     open_error, claim_error  the error's name when Open could not use it
%                  (libusb's on Linux, Windows' own on Windows)
%     advice       what to do about that error
%   KELBIO_BOARDS () with no output prints kelbio-scan's listing instead: it
%   also shows blank FX2 chips, the firmware file and the devices Open passes
%   over.  kelbio-scan is taken from the folder of this file, else from the PATH;
%   on Windows it is kelbio-scan.exe and lists the devices bound to the CyUSB
%   driver; 32-bit MATLAB takes the 32-bit one from the win32 folder beside
%   this file when there is one.

  here = fileparts (mfilename ('fullpath'));
  scan = fullfile (here, 'kelbio-scan');
  discard = '2>/dev/null';
  if (ispc ())
    scan = [scan '.exe'];
    discard = '2>NUL';
    win32 = fullfile (here, 'win32', 'kelbio-scan.exe');
    if (strcmp (computer ('arch'), 'win32') && exist (win32, 'file') == 2)
      scan = win32;
    end
  end
  if (exist (scan, 'file') ~= 2)
    scan = 'kelbio-scan';
  end
  if (nargout == 0)
    [status, text] = system (['"' scan '"']);
    fprintf ('%s', text);
    check (status, text);
    return;
  end
  % libusb may warn on stderr; only the document is read.
  [status, text] = system (['"' scan '" --json ' discard]);
  check (status, text);
  fields = {'bus', 'address', 'vendor', 'product', 'string', 'model', 'port', ...
            'open_error', 'claim_error', 'advice'};
  listing = jsondecode (text);
  if (isempty (listing.boards))
    boards = cell2struct (cell (numel (fields), 0), fields, 1);
  else
    boards = listing.boards(:)';
  end
end

function check (status, text)
  if (status ~= 0 && status ~= 1)
    error ('kelbio_boards: kelbio-scan did not run (status %d): %s', status, text);
  end
end
