% Open programs every FX2 that still lacks firmware from the file named by
% ZARVUSB_HEX_FILE, says so once, waits for the boards to come back, and
% then opens its board among them.
% Bus: two un-programmed FX2 chips; KELB_TEST_HEX names TIRK firmware.

%!test
%! kelbio ('CloseAll');
%! clear kelbio
%! unsetenv ('ZARVUSB_HEX_FILE');
%! msg = '';
%! out = evalc ("try, kelbio ('Open', 'TIRK1'); catch err, msg = err.message; end");
%! assert (msg, 'kelbio: No matching device found!');
%! assert (out, '');                               # no variable: no chip touched
%! setenv ('ZARVUSB_HEX_FILE', [tempname() '.hex']);
%! out = evalc ("try, kelbio ('Open', 'TIRK1'); catch err, msg = err.message; end");
%! assert (msg, 'kelbio: No matching device found!');
%! assert (out, '');                               # no file: the same
%!
%! setenv ('ZARVUSB_HEX_FILE', getenv ('KELB_TEST_HEX'));
%! out = evalc ("[p, s] = kelbio ('Open', 'TIRK1');");
%! assert (out, "FX2 device(s) initialized, waiting for re-enumeration.\n");
%! assert (s, 0);
%! assert (mislocked ('kelbio'));
%! out = evalc ("[q, s] = kelbio ('Open', 'TIRK2');");
%! assert (out, '');                               # both were programmed at once
%! assert (s, 0);
%! assert (kelbio ('Write', q, 0, 0, 3), 0);
%! for k = 1:500
%!   [d, s] = kelbio ('Read', q);
%! end
%! assert (s, 0);
%! assert (d(3) > 0);                              # a live TIRK board
%! fail ("kelbio ('Open', 'TIRK3')", 'No matching device found!');
%! kelbio ('CloseAll');
