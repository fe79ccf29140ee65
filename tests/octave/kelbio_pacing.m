% kelbio_pace in Octave: deadline numbers, and what an overrun of at least
% 3.5 periods does in each mode.  The deadlines that passed are counted from
% the schedule's own clock, so a slow machine changes the numbers, not the
% outcome; no timing is asserted.

%!test
%! for mode = {'skip', 'catchup'}
%!   kelbio_pace ('start', 0.05, mode{1});
%!   [late, k] = kelbio_pace ();
%!   assert (k, 1);
%!   assert (late >= 0);
%!   pause (0.175);                                  # deadlines 2, 3, 4 (and more when slow) pass
%!   n = floor (kelbio_pace ('time') / 0.05);        # the last deadline passed
%!   ks = zeros (1, 3);
%!   for i = 1:3
%!     [~, ks(i)] = kelbio_pace ();
%!   end
%!   s = kelbio_pace ('stats');
%!   assert (s.Mode, mode{1});
%!   assert (s.Periods, 4);
%!   if (strcmp (mode{1}, 'skip'))
%!     assert (s.Missed, n - 1);
%!     assert (ks, n + (1:3));
%!   else
%!     assert (s.Missed, 3);
%!     assert (ks, [2 3 4]);
%!   end
%!   assert (s.LatenessP99 <= s.LatenessMax && s.LatenessMean >= 0);
%!   assert (kelbio_pace ('time') >= s.Elapsed);
%! end

%!test
%! clear kelbio_pace                                 # unloading forgets the schedule
%! fail ('kelbio_pace ()', 'No schedule');
%!error <overrun action must be 'skip' or 'catchup'> kelbio_pace ('start', 1, 'drop')
