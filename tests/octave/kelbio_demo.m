% The demo in examples/ runs to its end on a virtual TIRK board: it prints
% its table, writes its plot, and the shaft ends on the last set-point.

%!test
%! kelbio ('CloseAll');
%! demo_png = [tempname() '.png'];
%! demo_seconds = 3.5;
%! out = evalc ("run (fullfile (getenv ('KELB_EXAMPLES'), 'demo.m'))");
%! assert (! isempty (strfind (out, 'set-point (rad)')));
%! assert (! isempty (strfind (out, 'Loop rate:')));
%! info = dir (demo_png);
%! assert (numel (info) == 1 && info.bytes > 1000);
%! delete (demo_png);
%! assert (t(end) >= demo_seconds);
%! assert (setpoint(end), pi / 2);
%! assert (position(end), setpoint(end), 0.01);
%! assert (! mislocked ('kelbio'));                # the demo closed its port
