% No libusb context may outlive the library.  After a refused claim the port
% record keeps its context; CloseAll and `clear kelbio` must end it, or
% libusb's event thread is left running in unmapped code and the next USB
% event (here a board plugged in) kills Octave.
% Bus: a TIRK board whose first claim is refused; SIGUSR1 to the bus's
% process (Octave's parent) plugs in a second TIRK board.

%!test
%! kelbio ('CloseAll');
%! clear kelbio
%! fail ("kelbio ('Open', 'TIRK1')", 'LIBUSB_ERROR_BUSY');
%! kelbio ('CloseAll');
%! assert (! mislocked ('kelbio'));
%! clear kelbio
%! kill (getppid (), 10);                          # SIGUSR1
%! pause (1);                                      # the uevent reaches every listener
%! [p, s] = kelbio ('Open', 'TIRK2');              # the board that came
%! assert (s, 0);
%! kelbio ('CloseAll');
