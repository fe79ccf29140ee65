classdef kelbio_record < handle
% KELBIO_RECORD  Keep every cycle of a run: time, the outputs written, the Read column.
%   R = KELBIO_RECORD (N, NOUT, NREAD) makes room for N cycles of a time, NOUT
%   output values and a Read column of NREAD values.  R = KELBIO_RECORD (N,
%   OUTNAMES, READNAMES) names them instead (cell arrays of strings); the
%   names go into the saved files.  More than N cycles are kept too, at the
%   cost of a larger cell array now and then.
%
%   add (R, T, OUT, D) stores one cycle: the time T (s), the values written
%   OUT and the Read column D.  It costs a few microseconds whatever the
%   length of the run: the cycles go into a block of 64 columns, and a full
%   block into a preallocated cell array.  (GNU Octave copies a handle
%   object's property whenever one element of it changes, so one large
%   matrix would cost a copy of the whole run per cycle.)
%
%   R.Count, R.Time (1xn), R.Outputs (NOUTxn), R.Read (NREADxn) give the data
%   so far; R.OutputNames, R.ReadNames the names.
%   save (R, FILE) writes FILE.mat (variables time, outputs, read,
%   output_names, read_names) or, when FILE ends in .csv, a CSV file with a
%   header line of the names.
%   R = kelbio_record.load (FILE) reads a saved .mat file back into a record.
%
%   See also KELBIO_LIVEVIEW, KELBIO_PACE, KELBIO_BOARD.

  properties (SetAccess = private)
    OutputNames = {};
    ReadNames = {};
    Count = 0;
  end
  properties (Dependent, SetAccess = private)
    Time
    Outputs
    Read
  end
  properties (Access = private)
    Blocks = {};   % full blocks of kBlock columns: floor (Count / kBlock) of them
    Current = [];  % the block being filled, mod (Count, kBlock) columns in use
  end
  properties (Constant, Access = private)
    kBlock = 64;
  end

  methods
    function r = kelbio_record (n, outputs, reads)
      if (nargin < 3 || ~isnumeric (n) || ~isscalar (n) || n < 0)
        error ('kelbio_record: use kelbio_record (N, NOUT, NREAD) or kelbio_record (N, OUTNAMES, READNAMES)');
      end
      r.OutputNames = kelbio_record.names_of (outputs, 'out');
      r.ReadNames = kelbio_record.names_of (reads, 'read');
      rows = 1 + numel (r.OutputNames) + numel (r.ReadNames);
      r.Current = zeros (rows, kelbio_record.kBlock);
      r.Blocks = cell (1, ceil (n / kelbio_record.kBlock));
      for k = 1:numel (r.Blocks)
        r.Blocks{k} = zeros (rows, kelbio_record.kBlock);
      end
    end

    function add (r, t, out, d)
      % One property read and two writes: in Octave each costs more than the
      % arithmetic, so the block's fill and the block number follow from Count.
      n = r.Count + 1;
      f = mod (n - 1, kelbio_record.kBlock) + 1;
      r.Current(:, f) = [t; out(:); d(:)];
      if (f == kelbio_record.kBlock)
        r.Blocks{n / kelbio_record.kBlock} = r.Current;
      end
      r.Count = n;
    end

    function x = rows (r, which, last)
      % X = rows (R, WHICH, LAST): rows WHICH (1 time, then the outputs, then
      % the Read values) of the last LAST cycles, or of all without LAST.
      if (nargin < 3)
        last = r.Count;
      end
      last = min (last, r.Count);
      first = r.Count - last + 1;
      n = kelbio_record.kBlock;
      full = floor (r.Count / n);
      b0 = floor ((first - 1) / n) + 1;
      parts = [r.Blocks(b0:full), {r.Current(:, 1:r.Count - full * n)}];
      x = [parts{:}];
      x = x(which, first - (b0 - 1) * n : end);
    end

    function v = get.Time (r)
      v = rows (r, 1);
    end
    function v = get.Outputs (r)
      v = rows (r, 1 + (1:numel (r.OutputNames)));
    end
    function v = get.Read (r)
      v = rows (r, 1 + numel (r.OutputNames) + (1:numel (r.ReadNames)));
    end

    function save (r, file)
      time = r.Time;
      outputs = r.Outputs;
      read = r.Read;
      output_names = r.OutputNames;
      read_names = r.ReadNames;
      if (numel (file) > 4 && strcmpi (file(end-3:end), '.csv'))
        fid = fopen (file, 'w');
        if (fid < 0)
          error ('kelbio_record: cannot write %s', file);
        end
        fprintf (fid, '%s\n', strjoin ([{'time'}, output_names, read_names], ','));
        format = [repmat('%.9g,', 1, 1 + numel (output_names) + numel (read_names))];
        fprintf (fid, [format(1:end-1) '\n'], [time; outputs; read]);
        fclose (fid);
      else
        builtin ('save', '-v7', file, 'time', 'outputs', 'read', 'output_names', 'read_names');
      end
    end
  end

  methods (Static)
    function r = load (file)
      s = builtin ('load', file);
      data = [s.time(:)'; s.outputs; s.read];
      n = size (data, 2);
      b = kelbio_record.kBlock;
      r = kelbio_record (n, s.output_names, s.read_names);
      full = floor (n / b);
      for k = 1:full
        r.Blocks{k} = data(:, (k - 1) * b + (1:b));
      end
      r.Current(:, 1:n - full * b) = data(:, full * b + 1:end);
      r.Count = n;
    end
  end

  methods (Static, Access = private)
    function names = names_of (given, stem)
      if (iscell (given))
        names = given(:)';
      else
        names = arrayfun (@(k) sprintf ('%s%d', stem, k), 1:given, 'UniformOutput', false);
      end
    end
  end
end
