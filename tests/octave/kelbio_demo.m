% The demo in examples/ runs to its end on a virtual TIRK board that runs on
% the host's clock: it prints its table and its missed deadlines, saves its
% record, writes its plot, and the shaft ends on the last set-point.

%!test
%! kelbio ('CloseAll');
%! demo_png = [tempname() '.png'];
%! demo_record = [tempname() '.mat'];
%! demo_seconds = 3.5;
%! out = evalc ("run (fullfile (getenv ('KELB_EXAMPLES'), 'demo.m'))");
%! assert (! isempty (strfind (out, 'set-point (rad)')));
%! assert (! isempty (regexp (out, 'Deadlines: \d+ periods of 1 ms, \d+ missed', 'once')));
%! info = dir (demo_png);
%! assert (numel (info) == 1 && info.bytes > 1000);
%! delete (demo_png);
%! assert (t(end) >= demo_seconds);
%! assert (setpoint(end), pi / 2);
%! assert (position(end), setpoint(end), 0.01);
%! saved = load (demo_record);                       # every cycle, as the loop saw it
%! assert (numel (saved.time), pace.Periods);
%! assert (saved.read(3, end), position(end));
%! assert (size (csvread (strrep (demo_record, '.mat', '.csv'), 1, 0)), [pace.Periods 12]);
%! delete (demo_record);
%! delete (strrep (demo_record, '.mat', '.csv'));
%! assert (! mislocked ('kelbio'));                # the demo closed its port
