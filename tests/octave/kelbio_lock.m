% The library keeps itself loaded while boards are open: `clear kelbio` then
% keeps the library, its ports and their boards; once every port is closed a
% clear unloads it and the next load starts with an empty registry.
% Bus: a TIRK board and a FELDAR board.

%!function fresh ()
%!  kelbio ('CloseAll');
%!  clear kelbio
%!endfunction

%!test  # clear while a port is open keeps everything
%! fresh ();
%! assert (! mislocked ('kelbio'));
%! p = kelbio ('Open', 'TIRK1');
%! p.WatchdogTimeout = 0.5;
%! kelbio ('SetParams', p);
%! assert (mislocked ('kelbio'));
%! clear kelbio
%! assert (mislocked ('kelbio'));
%! [q, s] = kelbio ('GetParams', p);               # same record, still open
%! assert (s, 0);
%! assert (q.WatchdogTimeout, 0.5);
%! assert (kelbio ('Write', p, 0, 0, 1), 0);
%! [d, s] = kelbio ('Read', p);
%! assert (s, 0);
%! kelbio ('CloseAll');
%! assert (! mislocked ('kelbio'));
%! clear kelbio
%! fail ("kelbio ('GetParams', p)", ...
%!       '^kelbio: The object is not found in the list of active KELBport devices\.$');
%! q = kelbio ('GetParams', 'TIRK1');              # registered anew, defaults again
%! assert (q.WatchdogTimeout, 1);
%! [~, s] = kelbio ('GetParams', q);
%! assert (s, 1);

%!test  # one lock per successful Open, one back per Close of an open port
%! fresh ();
%! t = kelbio ('Open', 'TIRK1');
%! f = kelbio ('Open', 'FELDAR1');
%! kelbio ('Open', t);                             # already open: another lock
%! assert (kelbio ('Close', t), 0);
%! assert (kelbio ('Close', t), 1);                # not open: lock count unchanged
%! assert (kelbio ('Close', f), 0);
%! assert (mislocked ('kelbio'));                  # the second Open of t still holds one
%! [~, s] = kelbio ('GetParams', t);
%! assert (s, 1);
%! kelbio ('CloseAll');
%! assert (! mislocked ('kelbio'));
%! kelbio ('CloseAll');                            # nothing left to release
%! assert (! mislocked ('kelbio'));

%!test  # a closed port reopens on the same record and board
%! fresh ();
%! t = kelbio ('Open', 'TIRK1');
%! kelbio ('Write', t, 0, 0, 5);
%! for k = 1:200
%!   d = kelbio ('Read', t);
%! end
%! kelbio ('Close', t);
%! [t, s] = kelbio ('Open', t);
%! assert (s, 0);
%! d = kelbio ('Read', t);
%! assert (d(3) > 0);                              # the shaft kept its angle
%! clear kelbio
%! assert (mislocked ('kelbio'));
%! kelbio ('CloseAll');
%! clear kelbio
%! assert (! mislocked ('kelbio'));
