function pace (periods)
% PACE  Loop pacing compared, in one Octave: kelbio_pace, pause(T - toc) and
% a tic/toc busy wait, at 1 kHz and at 100 Hz, PERIODS periods each (default
% 5000); and kelbio_pace with a kelbio_record add per cycle at 1 kHz.  Prints
% one tab-separated line per run: method, rate, mean period (ms), drift over
% the run (ms), lateness p50, p99, max (us), process CPU (% of one core).
% Lateness is measured against each method's own target: the absolute
% deadline t0 + k*T for kelbio_pace and the busy wait, the previous wake-up
% + T for pause(T - toc), which is what that idiom aims at.  kelbio_pace
% runs in 'catchup' mode, so like the busy wait it runs every period and
% its drift is comparable.
  if (nargin < 1)
    periods = 5000;
  end
  for T = [1e-3 1e-2]
    run ('kelbio_pace', T, periods);
    run ('pause(T - toc)', T, periods);
    run ('tic/toc busy wait', T, periods);
  end
  run ('kelbio_pace + record', 1e-3, periods);
end

% Every method is timed on one clock, the monotonic one kelbio_pace ('time')
% reads (tic/toc follow the wall clock, which time synchronisation slews).
function run (method, T, n)
  wake = zeros (1, n);
  late = zeros (1, n);
  kelbio_pace ('start', T, 'catchup');
  t0 = 0;
  cpu0 = cputime ();
  switch (method)
    case 'kelbio_pace'
      for k = 1:n
        late(k) = kelbio_pace ();
        wake(k) = kelbio_pace ('time');
      end
    case 'kelbio_pace + record'
      r = kelbio_record (n, 1, 9);
      d = zeros (9, 1);
      for k = 1:n
        late(k) = kelbio_pace ();
        wake(k) = kelbio_pace ('time');
        add (r, wake(k), k, d);
      end
    case 'pause(T - toc)'
      previous = t0;
      id = tic;
      for k = 1:n
        pause (max (0, T - toc (id)));
        id = tic;
        wake(k) = kelbio_pace ('time');
        late(k) = wake(k) - (previous + T);
        previous = wake(k);
      end
    case 'tic/toc busy wait'
      ref = tic;
      for k = 1:n
        deadline = k * T;
        while (toc (ref) < deadline)
        end
        wake(k) = kelbio_pace ('time');
        late(k) = wake(k) - deadline;
      end
  end
  cpu = (cputime () - cpu0) / (kelbio_pace ('time') - t0);
  periods = diff ([t0, wake]);
  q = sort (max (0, late));
  printf ('%s\t%g Hz\t%.4f\t%.2f\t%.0f\t%.0f\t%.0f\t%.0f\n', method, 1 / T, 1e3 * mean (periods), ...
          1e3 * (wake(end) - t0 - n * T), 1e6 * q(ceil (0.5 * n)), 1e6 * q(ceil (0.99 * n)), ...
          1e6 * q(end), 100 * cpu);
end
