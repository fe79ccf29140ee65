% Requests that stay pending on the real libusb.  A board whose product
% string never comes is passed over once libusb's 1 s control time-out ends
% the request; a read pending when its board leaves the bus ends with the
% unplug, not at the read's 10 s time limit.
% Bus: TIRK (its string request never completes), TIRK, TIRK (leaves the bus
% during its first bulk IN transfer); every URB is logged to KELBSIM_LOG.

%!function device = written_to ()
%!  # the bus id of the board that took the last bulk OUT packet
%!  found = regexp (fileread (getenv ('KELBSIM_LOG')), 'dev=(\d+) ep=02 ', 'tokens');
%!  device = str2double (found{end}{1});
%!endfunction

%!test  # the silent board costs the time-out, and TIRK1 is the board after it
%! kelbio ('CloseAll');
%! start = tic ();
%! p = kelbio ('Open', 'TIRK1');
%! assert (toc (start) >= 0.95);
%! assert (kelbio ('Write', p, 0, 0, 0), 0);
%! assert (written_to (), 2);
%! kelbio ('Close', p);

%!test  # the unplug ends the pending read; the board is gone from the list
%! p = kelbio ('Open', 'TIRK2');
%! assert (kelbio ('Write', p, 0, 0, 0), 0);
%! assert (written_to (), 3);
%! start = tic ();
%! [~, s] = kelbio ('Read', p);
%! assert (toc (start) < 5);
%! assert (s, 16);
%! assert (kelbio ('GetParams', p).ReadError, uint32 (2^32 - 4));   # LIBUSB_ERROR_NO_DEVICE
%! [~, s] = kelbio ('Read', p);
%! assert (s, 16);
%! kelbio ('Close', p);
%! assert (! mislocked ('kelbio'));
%! fail ("kelbio ('Open', 'TIRK2')", '^kelbio: No matching device found!$');
