% The board object (kelbio_board): it opens on construction and closes when
% it goes, including when an error ends the function that holds it; where
% Octave runs no destructor (a reference cycle) the board stays open until
% CloseAll.  Bus: two TIRK boards; the second fails two reads in a row.

%!function loop_that_fails ()
%!  b = kelbio_board ('TIRK1');
%!  kelbio_pace ('start', 1e-3);
%!  for k = 1:100
%!    kelbio_pace ();
%!    d = read (b);
%!    write (b, 0, 0, -d(3));
%!    if (k == 20)
%!      error ('test:loop', 'the loop failed at %d', k);
%!    end
%!  end
%!endfunction

%!test  # an error in a paced loop: the board is closed, no lock is held
%! kelbio ('CloseAll');
%! try
%!   loop_that_fails ();
%!   assert (false);
%! catch err
%!   assert (err.identifier, 'test:loop');
%!   assert (! mislocked ('kelbio'));                 # closed while the error went up
%! end
%! [~, s] = kelbio ('GetParams', 'TIRK1');
%! assert (s, 1);
%! st = kelbio_pace ('stats');
%! assert (st.Periods, 20);

%!test  # clear, overwrite, a copy of the handle, a second object on the same port
%! kelbio ('CloseAll');
%! b = kelbio_board ('tirk1');
%! assert (mislocked ('kelbio') && b.IsOpen);
%! assert (b.Port, 'TIRK1');                         # the name the port was first registered with
%! c = b;
%! clear b
%! assert (c.IsOpen);                                 # c is the same object
%! c = kelbio_board ('TIRK1');                        # re-running a script: shared, then the old one goes
%! assert (c.IsOpen && mislocked ('kelbio'));
%! clear c
%! assert (! mislocked ('kelbio'));
%! [~, s] = kelbio ('GetParams', 'TIRK1');
%! assert (s, 1);

%!test  # the parameters go through SetParams; read, write and the error fields
%! kelbio ('CloseAll');
%! b = kelbio_board ('TIRK1');
%! b.WatchdogTimeout = 0.1;
%! b.Dac2Default = 2.5;
%! p = kelbio ('GetParams', 'TIRK1');
%! assert ([p.WatchdogTimeout p.Dac2Default], [0.1 2.5]);
%! assert ([b.WatchdogTimeout b.Dac2Default], [0.1 2.5]);
%! assert (write (b, 1, 0, 5), 0);
%! for k = 1:50
%!   d = read (b);
%! end
%! assert (size (d), [9 1]);
%! assert (d(3) > 0);                                 # the shaft turned
%! fail ('b.WatchdogTimeout = ''x''', 'Invalid "WatchdogTimeout" property value');
%! assert (b.WatchdogTimeout, 0.1);
%! fail ('write (b, 0)', 'Too few input arguments');
%! close (b);
%! assert (! b.IsOpen && ! mislocked ('kelbio'));
%! [d, s] = read (b);
%! assert (isempty (d) && s == 1);
%! fail ('read (b)', 'Read on TIRK1 failed \(status 1');
%! open (b);
%! assert (b.IsOpen);
%! delete (b);
%! assert (! mislocked ('kelbio'));
%! fail ('kelbio_board (''XYZ1'')', 'Invalid KELBport device');

%!test  # a failed read: status 16 and ReadError with two outputs, an error with one
%! kelbio ('CloseAll');
%! b = kelbio_board ('TIRK2');
%! s = 0;
%! for k = 1:40
%!   [d, s] = read (b);
%!   if (s ~= 0), break; end
%! end
%! assert (s, 16);
%! assert (isempty (d));
%! assert (b.ReadError != 0);
%! fail ('read (b)', 'Read on TIRK2 failed \(status 16');
%! [d, s] = read (b);
%! assert (s, 0);
%! clear b
%! assert (! mislocked ('kelbio'));

%!test  # Octave never deletes objects in a reference cycle (MATLAB does): the board stays open until CloseAll
%! kelbio ('CloseAll');
%! b = kelbio_board ('TIRK1');
%! m = containers.Map ();
%! m('board') = b;
%! m('self') = m;
%! clear b m
%! assert (mislocked ('kelbio'));
%! kelbio ('CloseAll');
%! assert (! mislocked ('kelbio'));
