% A computer with no USB device at all.
% Bus: empty.

%!test
%! kelbio ('CloseAll');
%! clear kelbio
%! fail ("kelbio ('Open', 'TIRK1')", '^kelbio: No USB devices found!$');
%! [p, s] = kelbio ('GetParams', 'TIRK1');         # registered, not open
%! assert (s, 1);
%! assert (! mislocked ('kelbio'));
%! fail ("kelbio ('Open', p)", '^kelbio: No USB devices found!$');   # and again

%!test
%! b = kelbio_boards ();
%! assert (size (b), [0 1]);
%! assert (isfield (b, 'port'));
%! [status, out] = system (['"' fullfile(fileparts (which ('kelbio_boards')), 'kelbio-scan') '"']);
%! assert (status, 1);
%! assert (! isempty (strfind (out, 'No USB device is visible at all')));
