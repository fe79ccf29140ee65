% The live view as a person sees it: a paced loop on a virtual TIRK board
% with a record and a live view, on a real X display (Xvfb) with Octave's
% own Qt graphics; the figure is grabbed as shown and saved as a PNG.
% Run by liveview-screen.sh with png set; exits 1 when a check fails.
graphics_toolkit ('qt');
b = kelbio_board ('TIRK1');
r = kelbio_record (2000, {'dac1'}, 9);
v = kelbio_liveview (r, {'dac1', 'read3'}, 'Window', 1, 'Title', 'TIRK1: voltage and position');
kelbio_pace ('start', 1e-3);
for k = 1:2000
  kelbio_pace ();
  d = read (b);
  u = 3 * sin (2 * pi * k / 500);
  write (b, 0, 0, u);
  add (r, kelbio_pace ('time'), u, d);
  update (v);
end
update (v, true);
clear b
s = kelbio_pace ('stats');
printf ('%d redraws in %d periods (%.2f s), %d deadlines missed\n', v.Draws, s.Periods, s.Elapsed, s.Missed);
% Both traces end on the record's last cycle (the legend's lines do not).
h = findobj (v.Figure, 'Type', 'line');
x = get (h, 'XData');
ok = nnz (cellfun (@(t) t(end) == r.Time(end), x)) == 2;
printf ('traces ending on the last cycle: %d\n', nnz (cellfun (@(t) t(end) == r.Time(end), x)));
% The grabbed frame shows both trace colours.
f = getframe (v.Figure);
imwrite (f.cdata, png);
px = reshape (double (f.cdata), [], 3);
colors = lines (2) * 255;
for k = 1:2
  seen = nnz (all (abs (px - colors(k, :)) < 40, 2));
  printf ('trace %d: %d pixels of its colour\n', k, seen);
  ok = ok && seen > 200;
end
exit (~ok);
