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
