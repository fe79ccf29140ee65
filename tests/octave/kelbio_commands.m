% Commands as an Octave user meets them: the error messages, command names
% and argument counts, the models' argument checks, where the status goes,
% and the help texts.
% Bus: a TIRK, a FELDAR and a GASPILODEN board.

%!function fresh ()
%!  kelbio ('CloseAll');
%!  clear kelbio
%!endfunction

## The call's own errors and unknown port names are checked in kelbio.m.

## Port names
%!error <^kelbio: Device number is incorrect\.$> kelbio ('Help', 'TIRK')
%!error <^kelbio: Device number is incorrect\.$> kelbio ('Help', 'tirkx')
%!error <^kelbio: The second input argument must be a "KELBport" object\.$> kelbio ('Close', 'TIRK1')
%!error <^kelbio: The second input argument must be a "KELBport" object\.$> kelbio ('Read', 'TIRK1')
%!error <^kelbio: The second input argument must be a "KELBport" object\.$> kelbio ('Write', 'TIRK1', 0, 0, 0)
%!error <^kelbio: The second input argument must be a "KELBport" object\.$> kelbio ('GetParams', 'TIRK1xxxxxxxxxxxxxxx')

%!test  # names ignore case, and keep the spelling they were first given
%! fresh ();
%! p = kelbio ('GetParams', 'tirk1');
%! q = kelbio ('GetParams', 'TIRK1');
%! assert (q.Port, 'tirk1');
%! r = kelbio ('GetParams', 'TIRK12');   # another record, same board
%! assert (r.Port, 'TIRK12');
%! assert (r.Device, int32 (0));
%! f = kelbio ('GetParams', 'Feldar3x');
%! assert (f.Device, int32 (2));

%!test  # a ninth name is refused, even a bad one; known names still work
%! fresh ();
%! for k = 1:8
%!   kelbio ('GetParams', sprintf ('TIRK%d', k));
%! end
%! fail ("kelbio ('GetParams', 'TIRK9')", '^kelbio: Too many KELBport devices referenced\.$');
%! fail ("kelbio ('Help', 'XYZ1')", '^kelbio: Too many KELBport devices referenced\.$');
%! p = kelbio ('GetParams', 'tirk8');
%! assert (p.Port, 'TIRK8');
%! fresh ();
%! p = kelbio ('GetParams', 'TIRK9');   # a reload starts with an empty registry
%! assert (p.Device, int32 (8));

%!test  # a failed Open leaves the name registered and the port closed
%! fresh ();
%! fail ("kelbio ('Open', 'TIRK3')", 'No matching device found!');
%! [p, s] = kelbio ('GetParams', 'tirk3');
%! assert (p.Port, 'TIRK3');
%! assert (s, 1);
%! assert (! mislocked ('kelbio'));

## Command names may be cut to a unique prefix, in any letter case
%!test
%! fresh ();
%! p = kelbio ('o', 'TIRK1');
%! [~, s] = kelbio ('GET', p);
%! assert (s, 0);
%! s = kelbio ('close', p);          # Close, not CloseAll
%! assert (s, 0);
%! assert (! mislocked ('kelbio'));
%! kelbio ('OPEN', p);
%! kelbio ('closea');                # CloseAll
%! [~, s] = kelbio ('getparams', p);
%! assert (s, 1);

## The models check their values before anything is sent
%!test
%! fresh ();
%! t = kelbio ('Open', 'TIRK1');
%! missing = '^kelbio: Missing parameter\(s\)\.$';
%! notdouble = '^kelbio: All parameters must be of type "double"\.$';
%! fail ("kelbio ('Write', t, [], 0, 0)", missing);
%! fail ("kelbio ('Write', t, 0, 0, [], 1)", missing);
%! fail ("kelbio ('Write', t, 0, 0, 0, [])", '^kelbio: Missing parameter\.$');
%! fail ("kelbio ('Write', t, int8 (1), 0, 0)", notdouble);
%! fail ("kelbio ('Write', t, 0, 0, 0, 'x')", notdouble);
%! assert (kelbio ('Write', t, 0, 0, 0, [], 'x'), 0);   # a sixth value is not looked at
%! f = kelbio ('Open', 'FELDAR1');
%! fail ("kelbio ('Write', f, 0, 0, 0)", missing);
%! fail ("kelbio ('Write', f, 0, 0, 0, [1 2], 3)", missing);
%! fail ("kelbio ('Write', f, 0, 0, 0, [])", missing);
%! fail ("kelbio ('Write', f, 0, 0, 0, int32 (5))", notdouble);
%! assert (kelbio ('Write', f, 0, 0, 0, 1:9), 0);
%! g = kelbio ('Open', 'GASPILODEN1');
%! fail ("kelbio ('Write', g, 1, 1000, 0.5)", missing);
%! fail ("kelbio ('Write', g, 1, 1000, 0.5, 0, single (0))", notdouble);
%! fail ("kelbio ('Write', g, 0, 49.99, 0, 0, 0)", '^kelbio: Frequency out of range\.$');
%! fail ("kelbio ('Write', g, 0, 25000.01, 2, 0, 0)", '^kelbio: Frequency out of range\.$');
%! fail ("kelbio ('Write', g, 0, 1000, -1.5, 0, 0)", '^kelbio: Ratio 1 out of range\.$');
%! fail ("kelbio ('Write', g, 0, 1000, 0, 1, 1.0001)", '^kelbio: Ratio 3 out of range\.$');
%! assert (kelbio ('Write', g, 0, 50, -1, 0, 1), 0);
%! assert (kelbio ('Write', g, 0, 25000, 1, -1, 0), 0);
%! kelbio ('CloseAll');
%! assert (kelbio ('Write', g, 0, 1, 5, 5, 5), 1);   # closed: nothing is checked

## Where the status goes
%!test  # Close and Write always give their status, as ans with no output
%! fresh ();
%! p = kelbio ('Open', 'TIRK1');
%! ans = [];
%! kelbio ('Write', p, 0, 0, 0);
%! assert (ans, 0);
%! kelbio ('Close', p);
%! assert (ans, 0);
%! kelbio ('Close', p);
%! assert (ans, 1);
%! kelbio ('Write', p, 'not', 'checked', {});   # closed: no argument is checked
%! assert (ans, 1);

%!test  # Open, GetParams, SetParams, Read give it only as a second output
%! fresh ();
%! [p, s] = kelbio ('Open', 'TIRK1');
%! assert (s, 0);
%! assert (isstruct (p));
%! ans = 'untouched';
%! kelbio ('Open', p);
%! assert (isstruct (ans));          # the port object, not the status
%! [d, s] = kelbio ('Read', p);
%! assert (s, 0);
%! assert (size (d), [9 1]);
%! d = kelbio ('Read', p);
%! assert (size (d), [9 1]);
%! [q, s] = kelbio ('SetParams', p);
%! assert (s, 0);
%! kelbio ('CloseAll');
%! [~, s] = kelbio ('Read', p);      # closed: only the status comes back
%! assert (s, 1);
%! fail ("[d, s] = kelbio ('Read', p)", 'undefined');

%!test  # CloseAll and Help give nothing
%! fresh ();
%! ans = 42;
%! kelbio ('CloseAll');
%! kelbio ('Help', 'TIRK1');
%! assert (ans, 42);

## Help texts come as warnings
%!function s = show_port (p)
%!  s = evalc ("kelbio ('Help', p)");
%!endfunction
%!warning <^TIRK help:> kelbio ('Help', 'TIRK1');
%!warning <^Korvu Statue help:> kelbio ('Help', 'gaspiloden1');

%!test
%! fresh ();
%! old = warning ('off', 'backtrace');
%! restore = onCleanup (@() warning (old));
%! show = @(name) evalc (sprintf ("kelbio ('Help', '%s')", name));
%! assert (show ('tirk1'), ["warning: TIRK help:\n", ...
%!   "    Write: command, digitalout, [dac1( dac2)]\n", ...
%!   "    Read:  [status elapsedtime position speed motorcurrent motorvoltage externvoltage digitalin averagespeed]\n"]);
%! assert (show ('feldar1'), ["warning: Feldar help:\n", ...
%!   "    Write: command, digitalout, [dac1(, dac2)], [a1 s1; a2 s2; a3 s3; ... a8 s8] or\n", ...
%!   "           command, digitalout, [dac1(, dac2)], [s1 s2 s3 s4 ... s8]\n", ...
%!   "    Read:  [status elapsedtime position1 position2 motorcurrent motorvoltage externalvoltage digitalin averagespeed1 averagespeed2]\n"]);
%! assert (show ('morsivan1'), ["warning: Morsivan help:\n", ...
%!   "    Write: command digitalout dac1(, dac2)\n", ...
%!   "    Read:  [status elapsedtime position1 position2 motorcurrent beamvoltage morsivanvoltage digitalin]\n"]);
%! assert (show ('gaspiloden1'), ["warning: Korvu Statue help:\n", ...
%!   "    Write: command\n", ...
%!   "    Read:  [status position1 position2 position3 position4 position5 position6]\n"]);
%! lastwarn ('');
%! assert (show ('sorvandel1'), '');
%! assert (lastwarn (), '');
%! p = kelbio ('GetParams', 'TIRK1');
%! assert (show_port (p), show ('tirk1'));   # by object as by name
