% Transfer failures as the user sees them: a status, and the libusb code in
% the port object until SetParams clears it; a claim that fails is an error
% and a later Open gets the board.
% Bus: TIRK, TIRK, FELDAR, with the faults KELBSIM_FAULTS scripts:
%   the first claim of board 1 fails (busy);
%   board 2: one bulk IN transfer fails (I/O error), a later one moves 10
%            bytes only, and from the 500th on every one fails (pipe);
%   board 3: the first bulk OUT transfer times out after 5 bytes.

%!test  # a refused claim: the message, then the board on a second try
%! kelbio ('CloseAll');
%! clear kelbio
%! fail ("kelbio ('Open', 'TIRK1')", '^kelbio: Unable to claim USB interface: LIBUSB_ERROR_BUSY\.$');
%! assert (! mislocked ('kelbio'));
%! [p, s] = kelbio ('Open', 'TIRK1');
%! assert (s, 0);
%! kelbio ('Close', p);

%!test  # failed and short reads: status 16 and 32, the code kept in ReadError
%! p = kelbio ('Open', 'TIRK2');
%! status = zeros (1, 200);
%! for k = 1:200
%!   [~, status(k)] = kelbio ('Read', p);
%! end
%! assert (status(find (status)), [16 32]);        # one failed read, one short
%! [q, s] = kelbio ('GetParams', p);
%! assert (s, 0);                                  # the port stays open
%! assert (q.ReadError, uint32 (2^32 - 1));        # LIBUSB_ERROR_IO, -1
%! assert (q.WriteError, uint32 (0));
%! s = 0;
%! for k = 1:200                                   # until the pipe breaks for good
%!   [~, s] = kelbio ('Read', p);
%!   if (s != 0)
%!     break;
%!   end
%! end
%! assert (s, 16);
%! fail ("[d, s] = kelbio ('Read', p)", 'undefined');   # a failed read gives no data
%! q = kelbio ('GetParams', p);
%! assert (q.ReadError, uint32 (2^32 - 9));        # LIBUSB_ERROR_PIPE, -9
%! q = kelbio ('SetParams', p);
%! assert (q.ReadError, uint32 (0));
%! [~, s] = kelbio ('Read', p);
%! assert (s, 16);
%! assert (kelbio ('GetParams', p).ReadError, uint32 (2^32 - 9));
%! kelbio ('Close', p);

%!test  # a write that times out: status 16, WriteError 4294967289
%! p = kelbio ('Open', 'FELDAR1');
%! assert (kelbio ('Write', p, 0, 0, 0, [1 2 3]), 16);
%! assert (kelbio ('Write', p, 0, 0, 0, [1 2 3]), 0);
%! q = kelbio ('GetParams', p);
%! assert (q.WriteError, uint32 (4294967289));
%! assert (q.ReadError, uint32 (0));
%! kelbio ('CloseAll');
