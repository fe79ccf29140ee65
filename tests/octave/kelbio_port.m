% The KELBport object: its fields, editing its parameters and what that sends
% to the board, and the objects that are refused.
% Bus: two TIRK boards; every libusb call is logged to the file KELBSIM_LOG.

%!function fresh ()
%!  kelbio ('CloseAll');
%!  clear kelbio
%!  if (exist (getenv ('KELBSIM_LOG'), 'file'))
%!    delete (getenv ('KELBSIM_LOG'));
%!  end
%!endfunction

%!function [hex, device] = last_packet ()
%!  # the last packet the bus took on an OUT endpoint, and the board's bus id
%!  found = regexp (fileread (getenv ('KELBSIM_LOG')), ...
%!                  'dev=(\d+) ep=02 [^\n]* data=([0-9a-f]+)', 'tokens');
%!  hex = found{end}{2};
%!  device = str2double (found{end}{1});
%!endfunction

%!test  # a new name: the six fields, their classes and defaults
%! fresh ();
%! [p, s] = kelbio ('GetParams', 'TIRK1');
%! assert (s, 1);
%! assert (size (p), [1 1]);
%! assert (fieldnames (p), {'Port'; 'Device'; 'Dac2Default'; 'WatchdogTimeout'; 'ReadError'; 'WriteError'});
%! assert (p.Port, 'TIRK1');
%! assert (p.Device, int32 (0));
%! assert (isa (p.Dac2Default, 'double') && isnan (p.Dac2Default));
%! assert (p.WatchdogTimeout, 1);
%! assert (p.ReadError, uint32 (0));
%! assert (p.WriteError, uint32 (0));
%! [p, s] = kelbio ('Open', p);
%! assert (s, 0);
%! [q, s] = kelbio ('GetParams', 'tirk1');
%! assert (s, 0);
%! assert (q, p);

%!test  # edited parameters reach the board only through SetParams
%! fresh ();
%! p = kelbio ('Open', 'TIRK1');
%! kelbio ('Write', p, 1, 0, 0);
%! assert (last_packet (), '010080008000a00f');   # DAC 2 repeats DAC 1; 1 s watchdog
%! p.Dac2Default = 5;
%! p.WatchdogTimeout = 0.5;
%! kelbio ('Write', p, 1, 0, 0);
%! assert (last_packet (), '010080008000a00f');
%! q = kelbio ('SetParams', p);
%! assert ([q.Dac2Default, q.WatchdogTimeout], [5, 0.5]);
%! kelbio ('Write', p, 1, 0, 0);
%! assert (last_packet (), '010080ffbf00d007');
%! kelbio ('Write', p, 1, 0, [0 -5]);             # a second DAC value wins
%! assert (last_packet (), '010080004000d007');
%! kelbio ('Write', p, 1, 0, 0, -5);
%! assert (last_packet (), '010080004000d007');
%! p.Dac2Default = NaN;
%! kelbio ('SetParams', p);
%! kelbio ('Write', p, 2, 7, -5);
%! assert (last_packet (), '020040004007d007');

%!test  # Open with an object applies its parameters; by name it keeps them
%! fresh ();
%! p = kelbio ('GetParams', 'TIRK2');
%! p.WatchdogTimeout = 0.25;
%! p = kelbio ('Open', p);
%! assert (p.WatchdogTimeout, 0.25);
%! assert (p.Device, int32 (1));
%! kelbio ('Write', p, 0, 0, 0);
%! [hex, device] = last_packet ();
%! assert (hex, '000080008000e803');
%! assert (device, 2);                             # the second TIRK board
%! kelbio ('Close', p);
%! p = kelbio ('Open', 'tirk2');
%! assert (p.WatchdogTimeout, 0.25);
%! q = kelbio ('Open', 'TIRK1');
%! kelbio ('Write', q, 0, 0, 0);
%! [~, device] = last_packet ();
%! assert (device, 1);

%!test  # a bad parameter value changes nothing
%! fresh ();
%! p = kelbio ('GetParams', 'TIRK1');
%! p.Dac2Default = 2;
%! p.WatchdogTimeout = 'x';
%! fail ("kelbio ('SetParams', p)", '^kelbio: Invalid "WatchdogTimeout" property value\.$');
%! fail ("kelbio ('Open', p)", '^kelbio: Invalid "WatchdogTimeout" property value\.$');
%! [q, s] = kelbio ('GetParams', 'TIRK1');
%! assert (isnan (q.Dac2Default));
%! assert (s, 1);                                  # and Open opened nothing
%! p.WatchdogTimeout = 1;
%! p.Dac2Default = int32 (3);
%! fail ("kelbio ('SetParams', p)", '^kelbio: Invalid "Dac2Default" property value\.$');
%! p.Dac2Default = 2;
%! p.WatchdogTimeout = [2 3];                      # the first element counts
%! q = kelbio ('SetParams', p);
%! assert ([q.Dac2Default, q.WatchdogTimeout], [2, 2]);
%! p.Device = int32 (5);                           # reports: never read back
%! p.ReadError = uint32 (9);
%! q = kelbio ('SetParams', p);
%! assert (q.Device, int32 (0));
%! assert (q.ReadError, uint32 (0));

%!test  # which objects stand for a port
%! fresh ();
%! p = kelbio ('Open', 'TIRK1');
%! notport = '^kelbio: The second input argument must be a "KELBport" object\.$';
%! fail ("kelbio ('Close', 42)", notport);
%! fail ("kelbio ('Open', 42)", notport);
%! fail ("kelbio ('Close', struct ('Port', 'TIRK1'))", notport);
%! names = fieldnames (p);
%! values = struct2cell (p);
%! swapped = cell2struct (values([2 1 3:6]), names([2 1 3:6]));
%! fail ("kelbio ('Close', swapped)", notport);
%! r = p;
%! r.Port = 'TIRK1xxxxxxxxxxxxxxx';
%! fail ("kelbio ('Close', r)", '^kelbio: Invalid KELBport name \(too long\)\.$');
%! r.Port = 7;
%! fail ("kelbio ('Close', r)", '^kelbio: Invalid KELBport name \(too long\)\.$');
%! r.Port = struct ('Port', 'TIRK1');
%! fail ("kelbio ('Open', r)", '^kelbio: Invalid KELBport name \(too long\)\.$');
%! r.Port = 'TIRK5';                               # a good name, never used
%! fail ("kelbio ('Close', r)", '^kelbio: The object is not found in the list of active KELBport devices\.$');
%! fail ("kelbio ('Close', p([]))", '^kelbio: ');  # no element to read
%! [~, s] = kelbio ('GetParams', cell2struct (values, lower (names)));
%! assert (s, 0);                                  # field names ignore case
%! extra = p;
%! extra.Note = 'more fields are fine';
%! [~, s] = kelbio ('GetParams', extra);
%! assert (s, 0);
%! other = kelbio ('GetParams', 'TIRK2');
%! assert (kelbio ('Close', [other, p]), 1);       # only the first element counts
%! assert (kelbio ('Close', [p, other]), 0);
