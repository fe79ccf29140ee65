% Rounds of Write+Read cycles on a virtual TIRK board, kelbio and kelbnull in
% turn within one Octave, so that both see the same load of the machine; the
% process's CPU time, so that other processes count for little.
% Prints: median of kelbio/kelbnull over the rounds, and the median times of
% one cycle of each in microseconds.
function cycle (rounds, cycles)
  p = kelbio ('Open', 'TIRK1');
  kelbio ('Write', p, 0, 0, 2.5);
  kelbnull ('Write', p, 0, 0, 2.5);
  [~, s] = kelbnull ('Read', p);
  tk = zeros (rounds, 1);
  tn = zeros (rounds, 1);
  for r = 1:rounds
    t = cputime ();
    for k = 1:cycles
      s = kelbio ('Write', p, 0, 0, 2.5);
      [d, s] = kelbio ('Read', p);
    end
    tk(r) = cputime () - t;
    t = cputime ();
    for k = 1:cycles
      s = kelbnull ('Write', p, 0, 0, 2.5);
      [d, s] = kelbnull ('Read', p);
    end
    tn(r) = cputime () - t;
  end
  kelbio ('Close', p);
  printf ("%.4f %.2f %.2f\n", median (tk ./ tn), median (tk) / cycles * 1e6, median (tn) / cycles * 1e6);
end
