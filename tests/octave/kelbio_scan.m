% kelbio-scan and kelbio_boards against the bus Open sees: the same port name
% reaches the same board, blank chips and their firmware file, the boards Open
% passes over, and what the scan leaves on the wire (nothing written).
% Bus: FX2, TIRK, FELDAR, TIRK (string read fails), FELDAR (open refused),
% TIRK, FELDAR.  KELB_TEST_HEX names TIRK firmware.

%!function scan = scanner ()
%!  scan = fullfile (fileparts (which ('kelbio_boards')), 'kelbio-scan');
%!endfunction

%!function text = logged (name)
%!  setenv ('KELBSIM_LOG', fullfile (pwd (), name));
%!  if (exist (getenv ('KELBSIM_LOG'), 'file'))
%!    delete (getenv ('KELBSIM_LOG'));
%!  end
%!  text = getenv ('KELBSIM_LOG');
%!endfunction

%!test
%! unsetenv ('ZARVUSB_HEX_FILE');
%! log = logged ('kelbio_scan.scan.log');
%! b = kelbio_boards ();
%! assert ({b.port}, {'TIRK1', 'FELDAR1', 'TIRK2', 'FELDAR2'});
%! assert ({b.model}, {'TIRK', 'FELDAR', 'TIRK', 'FELDAR'});
%! assert ([b.address], [2 3 6 7]);
%! assert (b(1).string, 'KELBIO TIRK board (0.0)');
%! assert (b(1).vendor, '1209');
%! calls = fileread (log);
%! assert (isempty (regexp (calls, 'control_transfer|bulk_transfer', 'once')));
%! assert (numel (regexp (calls, 'claim_interface dev=\d+ iface=0 -> 0')), ...
%!         numel (regexp (calls, 'release_interface dev=\d+ iface=0 -> 0')));
%!
%! % Open in this process, on a bus set up alike, claims the same devices.
%! kelbio ('CloseAll');
%! log = logged ('kelbio_scan.open.log');
%! for k = 1:numel (b)
%!   kelbio ('Open', b(k).port);
%!   dev = regexp (fileread (log), 'claim_interface dev=(\d+) iface=0 -> 0', 'tokens');
%!   assert (str2double (dev{end}{1}), b(k).address, b(k).port);
%! end
%! fail ("kelbio ('Open', 'TIRK3')", 'No matching device found!');
%! kelbio ('CloseAll');

%!test
%! unsetenv ('ZARVUSB_HEX_FILE');
%! text = evalc ('kelbio_boards ()');
%! for line = {'blank FX2; Open leaves it blank', 'ZARVUSB_HEX_FILE is not set', ...
%!             'address 004  1209:0001  product string unreadable (LIBUSB_ERROR_IO): Open passes it over', ...
%!             "address 005  1209:0001  unknown device; cannot open: LIBUSB_ERROR_ACCESS\n      -> no permission", ...
%!             "port 'FELDAR2'\n", '4 boards found.'}
%!   assert (! isempty (strfind (text, line{1})), line{1});
%! end
%! [status, out] = system (['"' scanner() '" --all']);
%! assert (status, 2);
%! [status, out] = system (['"' scanner() '"']);
%! assert (status, 0);

%!test
%! setenv ('ZARVUSB_HEX_FILE', [tempname() '.hex']);
%! [status, out] = system (['"' scanner() '" --json']);
%! j = jsondecode (out);
%! assert (j.firmware.readable, false);
%! assert (j.firmware.error, 'No such file or directory');
%! assert (j.devices(1).kind, 'blank');
%! assert (j.devices(1).programmed_by_open, false);
%!
%! setenv ('ZARVUSB_HEX_FILE', getenv ('KELB_TEST_HEX'));
%! [status, out] = system (['"' scanner() '" --json']);
%! j = jsondecode (out);
%! assert ([j.firmware.image, j.firmware.records > 0, j.firmware.low, j.devices(1).address], [true true 0 1]);
%! assert (j.devices(1).programmed_by_open, true);
%! kelbio ('CloseAll');
%! out = evalc ("kelbio ('Open', 'TIRK1');");       # and Open does program it
%! assert (out, "FX2 device(s) initialized, waiting for re-enumeration.\n");
%! kelbio ('CloseAll');
%! unsetenv ('ZARVUSB_HEX_FILE');
