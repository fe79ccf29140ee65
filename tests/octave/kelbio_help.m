% `help kelbio` comes from kelbio.m beside the MEX file.  It must name every
% command, model, status code, parameter and the firmware variable, say what
% users ask first (the DAC range, the status row d(1), the MATLAB and Octave
% versions, binding boards on Windows), and the number of Read rows it gives
% each model must be what a Read returns.  (kelbio.m itself checks its first
% sentence, which `lookfor` shows.)
% Bus: one board of each model, in model table order.

%!test
%! text = evalc ('help kelbio');
%! assert (! isempty (strfind (text, 'kelbio.mex')));   # the MEX, documented by kelbio.m
%! words = {'Open', 'Close', 'CloseAll', 'GetParams', 'SetParams', 'Read', 'Write', 'Help', ...
%!          'TIRK', 'SORVANDEL', 'FELDAR', 'MORSIVAN', 'GASPILODEN', ...
%!          'Port', 'Device', 'Dac2Default', 'WatchdogTimeout', 'ReadError', 'WriteError', ...
%!          'ZARVUSB_HEX_FILE', '04B4:8613', 'plugdev', ...
%!          'clamped to the range -10 V to +10 V', 'd(1)', 'status byte', 'MATLAB R2015b', ...
%!          'GNU Octave 6.1', 'CyUSB', 'Device Manager', '.inf'};
%! flowing = regexprep (text, '\s+', ' ');   # phrases may wrap
%! for k = 1:numel (words)
%!   if (isempty (regexp (flowing, ['(?<!\w)' regexptranslate('escape', words{k}) '(?!\w)'], 'once')))
%!     error ('help kelbio does not name %s', words{k});
%!   end
%! end
%! for code = {'0', '1', '16', '32'}
%!   if (isempty (regexp (text, ['\n\s+' code{1} '\s+\w'], 'once')))
%!     error ('help kelbio does not list status %s', code{1});
%!   end
%! end
%! models = {'TIRK', 'SORVANDEL', 'FELDAR', 'MORSIVAN', 'GASPILODEN'};
%! for k = 1:numel (models)
%!   rows = regexp (text, [models{k} ' Read, (\d+) rows'], 'tokens', 'once');
%!   if (isempty (rows))
%!     error ('help kelbio gives no Read rows for %s', models{k});
%!   end
%!   p = kelbio ('Open', [models{k} '1']);
%!   [d, s] = kelbio ('Read', p);
%!   assert (s, 0);
%!   assert (size (d), [str2double(rows{1}), 1]);
%! end
%! kelbio ('CloseAll');
