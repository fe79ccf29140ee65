classdef kelbio_board < handle
% KELBIO_BOARD  A kelbio board as an object that closes itself.
%   B = KELBIO_BOARD (NAME) opens the board of port NAME ('TIRK1', 'FELDAR2',
%   ...) and returns a handle object for it.  The board is closed when the
%   object goes away: when the last variable that holds it is cleared or
%   overwritten, when the function that made it returns or ends with an
%   error, or when you call delete (B) or close (B).  It uses the eight
%   kelbio commands and nothing else, so it mixes freely with them: B.Object
%   is the KELBport structure they take.  A port name stands for one board:
%   kelbio('Open', 'TIRK1') and KELBIO_BOARD ('TIRK1') hold the same port, and
%   when the object closes it, it is closed for the command form too.
%
%   Named KELBIO_BOARD after what it stands for, as MATLAB names its device
%   objects (serialport, arduino, daq), with the kelbio_ prefix of the other
%   toolbox files; KELBIO_BOARDS (plural) lists the boards on the bus.
%
%   Methods:
%     [DATA, STATUS] = read (B)   kelbio('Read'): the model's measurement
%         column.  With one output a failed read is an error; with two, DATA is
%         [] and STATUS the transport's status (1 not open, 16 failed with the
%         code in ReadError, 32 short).
%     STATUS = write (B, COMMAND, DIGITALOUT, DAC, ...)   kelbio('Write') with
%         the model's values.  With no output a status other than 0 is an error.
%     close (B)   closes the board now; the object stays, IsOpen is false.
%     open (B)    opens it again (with the object's parameters).
%     usage (B)   the model's help text (kelbio('Help')).
%     kelbio_board.list ()   the boards on the bus, as KELBIO_BOARDS returns them.
%
%   Properties:
%     Port, Device        the port name and device number (read-only)
%     Dac2Default         DAC 2's value when a write gives none (NaN: repeat DAC 1)
%     WatchdogTimeout     s without a write after which the board stops its drives
%                         Setting either one calls kelbio('SetParams'), which
%                         also clears ReadError and WriteError.
%     ReadError, WriteError   the codes of the last failed transfers (read-only)
%     IsOpen              true while the board is open (read-only)
%     Object              the KELBport structure (read-only)
%
%   Example, a paced loop that cannot leave the board open:
%     function run_motor ()
%       b = kelbio_board ('TIRK1');
%       b.WatchdogTimeout = 0.1;
%       kelbio_pace ('start', 1e-3);
%       for k = 1:4000
%         kelbio_pace ();
%         d = read (b);
%         write (b, 0, 0, -2 * d(3));
%       end
%     end      % b goes away here, or when an error or Ctrl-C ends the loop
%
%   When the board is closed, in MATLAB and in GNU Octave (7.3, tested):
%     - clear b, b = [], b = kelbio_board(...) again, delete(b): at once;
%     - a function that holds b in a local variable and ends, normally or by
%       an error or Ctrl-C: when the function's workspace goes, so at once
%       even while the error is still on its way up;
%     - a script or the command line: b lives in the base workspace, so an
%       error in a loop there leaves it open (in MATLAB too) until clear b,
%       clear all or kelbio('CloseAll'); run loops in a function to have it
%       closed by the error;
%     - at exit: Octave deletes the objects of the base workspace and of
%       global variables, as MATLAB does.
%   Where Octave runs no destructor and MATLAB does: an object reachable only
%   through a reference cycle (b kept in a containers.Map or a handle object
%   that holds itself, directly or through others) is never deleted by
%   Octave once the last outside reference goes.  The board then stays open until close (b),
%   kelbio('CloseAll'), or the exit of Octave, when kelbio's own unload
%   handler closes every open board.  Keep board objects out of cycles, or
%   close them yourself.
%   Objects for the same port share kelbio's one connection (b = kelbio_board
%   ('TIRK1') run twice makes a second object before the first goes): the
%   board closes when the last of them goes, or on close (B) of any of them.
%   An object made for a port already opened with kelbio('Open') shares it
%   too, and closes it when it goes.

  properties (SetAccess = private)
    Port = '';
    Device = -1;
    Object = [];
  end
  properties (Dependent)
    Dac2Default
    WatchdogTimeout
  end
  properties (Dependent, SetAccess = private)
    ReadError
    WriteError
    IsOpen
  end

  methods
    function b = kelbio_board (name)
      if (nargin < 1 || ~ischar (name))
        error ('kelbio_board: give a port name, e.g. kelbio_board (''TIRK1'')');
      end
      % A port that is open already (by another object, or by kelbio('Open'))
      % is shared, not opened again: kelbio has one connection per port, and
      % the last object to go closes it.
      [p, status] = kelbio ('GetParams', name);
      if (status ~= 0)
        [p, status] = kelbio ('Open', name);
        if (status ~= 0)
          error ('kelbio_board: %s could not be opened (status %d)', name, status);
        end
      end
      kelbio_board.users (p.Port, 1);
      b.Object = p;
      b.Port = p.Port;
      b.Device = double (p.Device);
    end

    function delete (b)
      % Must not fail: it runs while an error unwinds.
      try
        if (~isempty (b.Object) && kelbio_board.users (b.Port, -1) == 0)
          close (b);
        end
      catch
      end
    end

    function close (b)
      if (b.IsOpen)
        kelbio ('Close', b.Object);
      end
    end

    function open (b)
      if (~b.IsOpen)
        [b.Object, status] = kelbio ('Open', b.Object);
        if (status ~= 0)
          error ('kelbio_board: %s could not be opened (status %d)', b.Port, status);
        end
      end
    end

    function [data, status] = read (b)
      try
        [data, status] = kelbio ('Read', b.Object);
      catch err
        % A failed read leaves the data unassigned; the error fields tell why.
        if (isempty (strfind (err.message, 'undefined')) && isempty (strfind (err.message, 'not assigned')))
          rethrow (err);
        end
        data = [];
        status = failed_status (b);
      end
      if (status ~= 0 && nargout < 2)
        error ('kelbio_board: Read on %s failed (status %d, ReadError %u)', b.Port, status, b.ReadError);
      end
    end

    function status = write (b, varargin)
      status = kelbio ('Write', b.Object, varargin{:});
      if (status ~= 0 && nargout < 1)
        error ('kelbio_board: Write on %s failed (status %d, WriteError %u)', b.Port, status, b.WriteError);
      end
    end

    function usage (b)
      kelbio ('Help', b.Object);
    end

    function v = get.IsOpen (b)
      [~, s] = kelbio ('GetParams', b.Object);
      v = s == 0;
    end
    function v = get.Dac2Default (b)
      v = params (b).Dac2Default;
    end
    function v = get.WatchdogTimeout (b)
      v = params (b).WatchdogTimeout;
    end
    function v = get.ReadError (b)
      v = params (b).ReadError;
    end
    function v = get.WriteError (b)
      v = params (b).WriteError;
    end
    function set.Dac2Default (b, v)
      p = params (b);
      p.Dac2Default = v;
      b.Object = kelbio ('SetParams', p);
    end
    function set.WatchdogTimeout (b, v)
      p = params (b);
      p.WatchdogTimeout = v;
      b.Object = kelbio ('SetParams', p);
    end

    function disp (b)
      if (isempty (b.Object))
        fprintf ('  kelbio_board (not opened)\n');
        return;
      end
      p = params (b);
      state = {'closed', 'open'};
      fprintf ('  kelbio_board %s, device %d, %s\n', b.Port, b.Device, state{b.IsOpen + 1});
      fprintf ('    Dac2Default %g, WatchdogTimeout %g s, ReadError %u, WriteError %u\n', ...
               p.Dac2Default, p.WatchdogTimeout, p.ReadError, p.WriteError);
    end
  end

  methods (Access = private)
    function p = params (b)
      p = kelbio ('GetParams', b.Object);
    end
    function s = failed_status (b)
      if (~b.IsOpen)
        s = 1;
      elseif (b.ReadError ~= 0)
        s = 16;
      else
        s = 32;
      end
    end
  end

  methods (Static)
    function boards = list ()
      boards = kelbio_boards ();
    end
  end

  methods (Static, Access = private)
    % How many objects use a port (by name, letter case ignored), after
    % adding change.
    function n = users (port, change)
      persistent count;
      if (isempty (count))
        count = containers.Map ();
      end
      key = lower (port);
      n = change;
      if (isKey (count, key))
        n = n + count(key);
      end
      if (n > 0)
        count(key) = n;
      else
        n = 0;
        if (isKey (count, key))
          remove (count, key);
        end
      end
    end
  end
end
