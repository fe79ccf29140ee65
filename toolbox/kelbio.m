%KELBIO  Drive the USB I/O boards of five lab setups from MATLAB or Octave.
%   The boards are built round an EZ-USB FX2; the setups are the TIRK,
%   SORVANDEL, FELDAR, MORSIVAN and GASPILODEN models.
%
%   Every call has the form kelbio('Command', port, ...). Command names ignore
%   letter case and may be cut to a unique prefix: 'o' is Open, 'get' is
%   GetParams, 'close' is Close, 'closea' is CloseAll; 'clo' is ambiguous.
%
%   Commands
%     [port, status] = kelbio('Open', name)
%     [port, status] = kelbio('Open', port)
%         Registers a port name on first use, finds its board and opens it.
%         Given a port object, first applies its Dac2Default and
%         WatchdogTimeout and clears ReadError and WriteError. Opening a port
%         that is already open is allowed. Fails with "No matching device
%         found!" when no attached board fits the name.
%     status = kelbio('Close', port)
%         Closes the board; the port stays registered with its parameters.
%         status is 1 when the port was not open.
%     kelbio('CloseAll')
%         Closes every open port.
%     [port, status] = kelbio('GetParams', name or port)
%         The port object; status is 0 when the port is open, 1 when not.
%     [port, status] = kelbio('SetParams', port)
%         Applies the object's Dac2Default and WatchdogTimeout, clears
%         ReadError and WriteError, and returns the updated object.
%     [data, status] = kelbio('Read', port)
%         Reads one input block from the board; data is a column of doubles
%         whose rows depend on the model (see Models). When the read fails
%         data is not assigned, so a call that asks for it raises an error;
%         [~, status] = kelbio('Read', port) gives the status alone.
%     status = kelbio('Write', port, ...)
%         Sends the model's output values (see Models).
%     kelbio('Help', name or port)
%         Shows the model's short usage text as a warning.
%
%   Close and Write always return their status, as ans when no output is
%   named. Open, GetParams, SetParams and Read return it only as the second
%   output. CloseAll and Help return nothing.
%
%   Port names
%     A model name followed by a device digit '1' to '9', at most 18
%     characters, letter case ignored: 'TIRK1' is the first TIRK board on
%     the bus, 'feldar2' the second FELDAR board. Characters after the digit
%     only tell port names apart ('TIRK1' and 'TIRK1b' use the same board).
%     At most 8 port names can be used while the library is loaded.
%
%   The port object (KELBport), a structure with six fields:
%     Port             the port name
%     Device           int32: the board's position among the boards of its
%                      model, 0 for digit '1' up to 8 for digit '9'
%     Dac2Default      volts for DAC 2 when a Write gives no value for it;
%                      NaN (the default) makes DAC 2 repeat DAC 1
%     WatchdogTimeout  watchdog time in seconds (default 1), sent to the
%                      board in steps of 0.25 ms, 0 to 16.38375
%     ReadError        uint32: error code of the last failed read
%     WriteError       uint32: error code of the last failed write
%   To change a parameter, edit the field and pass the object to SetParams
%   (or Open):  p.WatchdogTimeout = 0.5; p = kelbio('SetParams', p);
%   The other fields are reports; editing them has no effect.
%
%   Models
%     TIRK, SORVANDEL, MORSIVAN
%       status = kelbio('Write', port, command, digitalout, dac1)
%       status = kelbio('Write', port, command, digitalout, [dac1 dac2])
%       status = kelbio('Write', port, command, digitalout, dac1, dac2)
%         command and digitalout are bytes 0 to 255 (values are truncated
%         and clamped). DAC values are in volts and are clamped to the
%         range -10 V to +10 V (steps of 20/65535 V); NaN gives -10 V.
%         Bit 0 of command restarts the average speed of axis 1 from
%         position 0.
%       TIRK Read, 9 rows: status elapsedtime position speed motorcurrent
%         motorvoltage externvoltage digitalin averagespeed
%       SORVANDEL Read, 11 rows: status elapsedtime position1 position2
%         voltage1 voltage2 voltage3 voltage4 digitalin averagespeed1
%         averagespeed2
%       MORSIVAN Read, 8 rows: status elapsedtime position1 position2
%         motorcurrent beamvoltage morsivanvoltage digitalin
%     FELDAR
%       status = kelbio('Write', port, command, digitalout, dac, [a1 s1; a2 s2; ...])
%       status = kelbio('Write', port, command, digitalout, dac, [s1 s2 ... s8])
%         dac is dac1 or [dac1 dac2], in volts clamped to -10 V to +10 V as
%         above. Set-points s are -500 to 500, sent with addresses a of 0
%         to 63 (in the second form the addresses are 1, 2, ...); four
%         set-points go in each packet.
%       FELDAR Read, 10 rows: status elapsedtime position1 position2 motorcurrent
%         motorvoltage externalvoltage digitalin averagespeed1 averagespeed2
%     GASPILODEN
%       status = kelbio('Write', port, command, frequency, ratio1, ratio2, ratio3)
%         One pulse frequency of 50 to 25000 Hz for the three outputs and one
%         ratio of -1 to 1 per output. Up to 500 Hz the pulse width follows
%         the ratio: 0.9 ms at -1, 1.5 ms at 0, 2.1 ms at 1 (servo pulses).
%         Above 500 Hz the pulse is |ratio| of the period and the ratio's
%         sign sets the output's direction bit. Bits 0-3 of command are sent.
%       GASPILODEN Read, 7 rows: status position1 position2 position3 position4
%         position5 position6 (counter values, not scaled)
%     Positions are in radians (2000 encoder counts a turn) and elapsedtime
%     in seconds.
%
%   The status row d(1) of a Read
%     d(1) is the board's status byte without bit 7 (0-127), as the board's
%     firmware sets it. kelbio does not interpret it, and it is not one of
%     the status codes below: those say whether the transfer worked.
%     TIRK, SORVANDEL, FELDAR, MORSIVAN: the averagespeed rows divide the
%       change of position since the previous Read by the whole byte (bit 7
%       included) times 2 ms, so there the byte counts 2 ms steps; a byte
%       of 0 gives Inf, or NaN when the position did not change.
%     TIRK: bit 7 of the byte is the sign of the speed row d(4).
%     GASPILODEN: d(1) is the byte alone; no row depends on it.
%
%   Status codes returned by Read and Write (and Open, Close, GetParams)
%      0  done
%      1  the port is not open; nothing was sent or read
%     16  the transfer failed; the driver's error code is in the object's
%         ReadError or WriteError (see GetParams)
%     32  the transfer moved fewer bytes than asked (a short write gives 16
%         on Windows)
%   Wrong commands or arguments are raised as errors, not returned as status.
%
%   Firmware (Linux)
%     Boards whose FX2 has no firmware yet show USB ID 04B4:8613. When the
%     environment variable ZARVUSB_HEX_FILE names an Intel HEX firmware file,
%     each Open of a closed port loads it into every such board, prints
%     "FX2 device(s) initialized, waiting for re-enumeration." and waits
%     3 seconds for the boards to come back programmed. Set the variable
%     before starting MATLAB or Octave, e.g.
%       export ZARVUSB_HEX_FILE=/path/to/firmware.hex
%     A board the user may not open is passed over: install the udev rules
%     that come with kelbio, which open the boards to the user at the
%     computer's seat and to the plugdev group (join it to work over ssh).
%
%   Windows
%     kelbio.mexw64 and kelbio.mexw32 reach the boards through the CyUSB
%     driver from Cypress (now Infineon) and find only boards bound to it;
%     they load no firmware, so each board must come up programmed. Install
%     the driver package, add the board's vendor and product IDs (Device
%     Manager, the board's Properties, Details, Hardware Ids) to the
%     driver's .inf file, then in Device Manager choose the board, Update
%     driver, Browse my computer for drivers, and give the folder of that
%     .inf. A board bound to another driver (WinUSB, libusb-win32) is not
%     found: "No matching device found!". kelbio_boards (kelbio-scan.exe
%     beside the MEX files, the 32-bit one in win32) lists the devices bound
%     to the driver and the port name Open binds to each board.
%
%   Supported versions
%     MATLAB R2015b or later on 64-bit Linux (kelbio.mexa64) and 64-bit
%     Windows (kelbio.mexw64); kelbio.mexglx and kelbio.mexw32 for the last
%     32-bit MATLAB releases (R2012a on Linux, R2015b on Windows). GNU Octave
%     6.1 or later on Linux (kelbio.mex; tested with Octave 7.3). kelbio
%     uses the 32-bit-dimension MX API (mex -compatibleArrayDims), which
%     current MATLAB releases still provide. The Linux files need a C
%     library as new as the one of the system they were built on; with
%     make.m (in the sources' packaging folder) MATLAB builds its own.
%
%   While a port is open the library stays loaded ("clear kelbio" keeps it
%   and its ports); after kelbio('CloseAll') a clear unloads it.
%
%   Example
%     p = kelbio('Open', 'TIRK1');
%     kelbio('Write', p, 0, 0, 2.5);        % 2.5 V on the motor
%     [d, status] = kelbio('Read', p);     % d(3) is the position in radians
%     kelbio('Close', p);

% kelbio is MIT-licensed (see COPYING); `ver` names its version.
% SPDX-License-Identifier: MIT

% Checks that `test kelbio` and `pkg test kelbio` run in Octave: the call's own
% errors and the help need no board; the session on a virtual board runs
% under kelbio-sim with one TIRK (kelbio-sim TIRK -- octave-cli).
%!error <^kelbio: Too few input arguments\.$> kelbio ()
%!error <^kelbio: The first input argument must be a command string\.$> kelbio (5)
%!error <^kelbio: The first input argument must be a command string\.$> kelbio ({'Open'})
%!error <^kelbio: The first input argument must be a command string\.$> kelbio ('CloseAllxxxxxxxxxxxx')
%!error <^kelbio: Unknown command\.$> kelbio ('CloseAllxxxxxxxxxxx')
%!error <^kelbio: Unknown command\.$> kelbio ('opened')
%!error <^kelbio: Unknown command\.$> kelbio ('Reader', 'TIRK1')
%!error <^kelbio: Ambiguous command name\.$> kelbio ('clo')
%!error <^kelbio: Ambiguous command name\.$> kelbio ('c', 'TIRK1')
%!error <^kelbio: Ambiguous command name\.$> kelbio ('')
%!error <^kelbio: Too few input arguments\.$> kelbio ('Help')
%!error <^kelbio: Too few input arguments\.$> kelbio ('Write', 'TIRK1', 0, 0)
%!error <^kelbio: Too many input arguments\.$> kelbio ('CloseAll', 'TIRK1')
%!error <^kelbio: Too many input arguments\.$> kelbio ('Read', 'TIRK1', 1, 2)
%!error <^kelbio: Too many output arguments\.$> x = kelbio ('CloseAll')
%!error <^kelbio: Too many output arguments\.$> x = kelbio ('Help', 'TIRK1')
%!error <^kelbio: Too many output arguments\.$> [a, b, c] = kelbio ('Open', 'TIRK1')
%!error <^kelbio: Device number is incorrect\.$> kelbio ('Help', 'TIRK0')
%!error <^kelbio: Invalid KELBport device\.$> kelbio ('Help', 'XYZ1')

%!test  # `lookfor` shows the first sentence, and `help` the text of this file
%! first = get_first_help_sentence ('kelbio');
%! assert (first, 'KELBIO  Drive the USB I/O boards of five lab setups from MATLAB or Octave.');
%! lines = strsplit (evalc ('help kelbio'), "\n");
%! assert (any (! cellfun ('isempty', strfind (lines, first))));

%!test  # the bus this computer has: a port no board fits is not found
%! fail ("kelbio ('Open', 'GASPILODEN9')", ['^kelbio: (No (USB devices|matching device) found!|' ...
%!       'Unable to (create USB context|get list of USB devices): LIBUSB_ERROR_\w+\.)$']);

%!testif ; strcmp (getenv ("KELBSIM_BOARDS"), "TIRK")   # a session on the virtual board
%! kelbio ('CloseAll');
%! p = kelbio ('Open', 'TIRK1');
%! assert (p.Port, 'TIRK1');
%! assert (kelbio ('Write', p, 0, 0, 2.5), 0);
%! [d, s] = kelbio ('Read', p);
%! assert (s, 0);
%! assert (size (d), [9 1]);
%! assert (kelbio ('Close', p), 0);
%! assert (kelbio ('Close', p), 1);   # already closed
%! fail ("kelbio ('Open', 'TIRK2')", '^kelbio: No matching device found!$');
%! fail ("kelbio ('Open', 'MORSIVAN1')", '^kelbio: No matching device found!$');
%! fail ("kelbio ('Open', 'GASPILODEN9')", '^kelbio: No matching device found!$');
