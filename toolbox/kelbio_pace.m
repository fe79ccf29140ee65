% KELBIO_PACE  Keep a loop on a fixed period: wait for absolute deadlines t0 + k*T.
%   KELBIO_PACE ('start', T) starts a schedule with period T seconds; t0 is
%   now.  KELBIO_PACE ('start', T, MODE) chooses what an overrun does:
%     'skip'     (default) when the loop body took longer than a period, the
%                deadlines that have passed are counted as missed and the
%                next wait ends on the next deadline still ahead, so the loop
%                stays on the grid t0 + k*T and never bursts;
%     'catchup'  each passed deadline is returned at once, one per call,
%                until the loop is back on time (every period is run).
%
%   [LATE, K] = KELBIO_PACE () waits for the next deadline t0 + K*T and
%   returns K and how late it returned, in seconds.  Deadlines are absolute,
%   so the loop does not drift however long its body takes, and a late
%   period does not shift the ones after it.  The wait sleeps most of the
%   time and spins only for a short margin before the deadline; the margin
%   follows how late the system's sleep wakes (at most 2 ms, at most half
%   a period), so the CPU is mostly free.  It sleeps with
%   clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME) on Linux, and on Windows
%   with a high-resolution waitable timer where the system has one (Windows
%   10 1803 on), else with Sleep for long waits and QueryPerformanceCounter
%   for the rest.
%
%   S = KELBIO_PACE ('stats') returns the run's statistics:
%     Period        T, in s
%     Mode          'skip' or 'catchup'
%     Periods       waits that have returned
%     Missed        deadlines that had passed before their wait began
%     LatenessMean  mean lateness of the returned waits, in s
%     LatenessP99   99th percentile of the lateness, in s (to 1 us below
%                   1 ms, to 64 us up to 66 ms; never above the maximum)
%     LatenessMax   largest lateness, in s
%     Elapsed       seconds since t0
%     Sleep         how this system sleeps: 'clock_nanosleep',
%                   'high-resolution waitable timer' or 'QueryPerformanceCounter'
%   T = KELBIO_PACE ('time') is the seconds since t0 on the same clock, for
%   time-stamping a record.
%
%   Design: the whole state is one fixed record in the MEX file (t0, T, the
%   next k, the mode, the sleep margin and the statistics with a fixed
%   histogram of 2048 bins for the percentile), so a wait allocates nothing
%   but its outputs and a run of any length costs the same memory.  There
%   is one schedule per MATLAB/Octave session; 'start' begins a new one and
%   forgets the old statistics.  The file takes no lock: `clear kelbio_pace`
%   forgets the schedule.
%
%   Example, a 1 kHz loop:
%     kelbio_pace ('start', 1e-3);
%     for k = 1:4000
%       kelbio_pace ();           % the next millisecond starts here
%       d = kelbio ('Read', p);
%       kelbio ('Write', p, 0, 0, -2 * d(3));
%     end
%     s = kelbio_pace ('stats');
%     fprintf ('%d of %d deadlines missed\n', s.Missed, s.Periods);
%
%   See also KELBIO, KELBIO_BOARD, KELBIO_RECORD.
