% Control loops of a few thousand Write/Read cycles on each model, as an
% experiment runs them: every transfer must succeed, and the plant behind the
% board must answer the way the written values ask.
% Bus, in this order: TIRK, SORVANDEL, FELDAR, MORSIVAN, GASPILODEN.

%!shared cycles
%! cycles = 3000;
%! kelbio ('CloseAll');
%! clear kelbio

%!test  # TIRK: position control settles on the set-point
%! p = kelbio ('Open', 'TIRK1');
%! kelbio ('Write', p, 1, 0, 0);                   # bit 0: count from here
%! target = 3;
%! status = zeros (2, cycles);
%! for k = 1:cycles
%!   [d, status(1, k)] = kelbio ('Read', p);
%!   u = max (-10, min (10, 3.2 * (target - d(3)) - 0.24 * d(4)));
%!   status(2, k) = kelbio ('Write', p, 0, 0, u);
%! end
%! assert (status, zeros (2, cycles));
%! assert (size (d), [9 1]);
%! assert (d(3), target, 0.02);
%! assert (abs (d(4)) < 1);
%! kelbio ('Close', p);

%!function [d, moved] = run_axes (p, cycles, rows, varargin)
%!  # Drives the port with the same Write every cycle.  moved: the
%!  # average speeds (the given rows) integrated over the elapsed times.
%!  moved = [0; 0];
%!  status = zeros (2, cycles);
%!  for k = 1:cycles
%!    status(1, k) = kelbio ('Write', p, varargin{:});
%!    [d, status(2, k)] = kelbio ('Read', p);
%!    moved += d(rows) * d(2);
%!  end
%!  assert (status, zeros (2, cycles));
%!endfunction

%!test  # SORVANDEL: axes driven apart; average speeds add up to the positions
%! p = kelbio ('Open', 'SORVANDEL1');
%! kelbio ('Write', p, 1, 0, 0);
%! [d, moved] = run_axes (p, cycles, 10:11, 0, 0, 2, -2);
%! assert (size (d), [11 1]);
%! assert (d(3) > 1 && d(4) < -1);
%! assert (d(3), -d(4), 0.01);
%! assert (moved, d(3:4), 0.01);
%! kelbio ('Close', p);

%!test  # FELDAR: set-points in both forms; the two DAC outputs drive the two axes
%! p = kelbio ('Open', 'FELDAR1');
%! kelbio ('Write', p, 1, 0, 0, [10 -20 30]);
%! [d, moved] = run_axes (p, cycles, 9:10, 0, 0, [-3 1.5], [1 100; 2 -200]);
%! assert (size (d), [10 1]);
%! assert (d(3) < -1 && d(4) > 0.5);
%! assert (d(3), -2 * d(4), 0.05);
%! assert (moved, d(3:4), 0.01);
%! kelbio ('Close', p);

%!test  # MORSIVAN: DAC 1 turns axis 1, DAC 2 from Dac2Default holds axis 2
%! p = kelbio ('Open', 'MORSIVAN1');
%! p.Dac2Default = 0;
%! kelbio ('SetParams', p);
%! kelbio ('Write', p, 1, 0, 0);
%! status = zeros (2, cycles);
%! for k = 1:cycles
%!   status(1, k) = kelbio ('Write', p, 0, 0, 4);
%!   [d, status(2, k)] = kelbio ('Read', p);
%! end
%! assert (status, zeros (2, cycles));
%! assert (size (d), [8 1]);
%! assert (d(3) > 1);
%! assert (d(4), 0);
%! kelbio ('Close', p);

%!test  # GASPILODEN: servo pulses at 50 Hz, then duty cycles at 1000 Hz
%! p = kelbio ('Open', 'GASPILODEN1');
%! status = zeros (2, cycles);
%! for k = 1:cycles
%!   status(1, k) = kelbio ('Write', p, 0, 50, -1, 0, 0.5);
%!   [servo, status(2, k)] = kelbio ('Read', p);
%! end
%! assert (status, zeros (2, cycles));
%! assert (size (servo), [7 1]);
%! assert (servo(2) < 0 && servo(4) > 0);          # widths follow the ratios
%! assert (servo(2), -2 * servo(4), 2);
%! assert (servo(3), 0);
%! assert (servo(5) > 0 && all (servo(5:7) == servo(5)));
%! for k = 1:cycles
%!   status(1, k) = kelbio ('Write', p, 0, 1000, 0.5, -0.25, 0);
%!   [duty, status(2, k)] = kelbio ('Read', p);
%! end
%! assert (status, zeros (2, cycles));
%! moved = duty(2:4) - servo(2:4);
%! assert (moved(1) > 0 && moved(2) < 0);          # the ratio's sign is the direction
%! assert (moved(1), -2 * moved(2), 2);
%! assert (moved(3), 0);
%! pulses = (duty(5:7) - servo(5:7)) / servo(5);  # 20 times the frequency
%! assert (pulses, [20; 20; 20], 1);
%! kelbio ('Close', p);
