classdef kelbio_liveview < handle
% KELBIO_LIVEVIEW  A live figure of chosen rows of a KELBIO_RECORD, cheap enough for a 1 kHz loop.
%   V = KELBIO_LIVEVIEW (R, ROWS) opens a figure with one trace per row of
%   record R: ROWS counts 1 for the time, then the outputs, then the Read
%   values (so with one output, Read value d(3) is row 5), or names them
%   ({'dac1', 'position'}).  Options, as name/value pairs:
%     'Window'   seconds of record time shown (default 5)
%     'MaxRate'  most redraws a second (default 20, as drawnow limitrate)
%     'Budget'   most share of the time spent drawing (default 0.03)
%     'Title'    the figure's title
%
%   update (V) in the loop, once per cycle, redraws only when it is due and
%   returns at once otherwise (one clock reading).  A redraw is due 1/MaxRate
%   after the last one, or later when drawing is slow: after a redraw that
%   took d seconds the next waits at least d/Budget, so drawing never takes
%   more than Budget of the loop's time (a software-rendered figure can take
%   20 ms or more per redraw).  The same rule holds in MATLAB and in GNU
%   Octave, which has no drawnow limitrate.  A redraw stops the loop for
%   its duration: with kelbio_pace in 'skip' mode those periods are counted
%   as missed, not run late.
%   update (V, true) redraws now.  V.Draws counts the redraws, V.Figure is
%   the figure.
%
%   See also KELBIO_RECORD, KELBIO_PACE.

  properties (SetAccess = private)
    Figure = [];
    Draws = 0;
    Window = 5;
    MaxRate = 20;
    Budget = 0.03;
  end
  properties (Access = private)
    Record = [];
    Rows = [];
    Lines = [];
    Axes = [];
    Clock = [];
    Next = 0;
  end
  properties (Constant, Access = private)
    kMaxPoints = 1500;  % per trace: more do not show on a screen
  end

  methods
    function v = kelbio_liveview (record, rows, varargin)
      if (nargin < 2 || ~isa (record, 'kelbio_record'))
        error ('kelbio_liveview: use kelbio_liveview (RECORD, ROWS, ...)');
      end
      names = [{'time'}, record.OutputNames, record.ReadNames];
      if (iscell (rows))
        [found, at] = ismember (rows, names);
        if (~all (found))
          error ('kelbio_liveview: the record has no row %s', strjoin (rows(~found), ', '));
        end
        rows = at;
      end
      if (any (rows < 1 | rows > numel (names) | rows ~= round (rows)))
        error ('kelbio_liveview: rows are 1 to %d', numel (names));
      end
      name = 'kelbio live view';
      for k = 1:2:numel (varargin)
        switch (lower (varargin{k}))
          case 'window',  v.Window = varargin{k + 1};
          case 'maxrate', v.MaxRate = varargin{k + 1};
          case 'budget',  v.Budget = varargin{k + 1};
          case 'title',   name = varargin{k + 1};
          otherwise, error ('kelbio_liveview: unknown option %s', varargin{k});
        end
      end
      v.Record = record;
      v.Rows = rows(:)';
      v.Figure = figure ('Name', name, 'NumberTitle', 'off');
      v.Axes = axes ('Parent', v.Figure);
      colors = lines (numel (rows));
      v.Lines = zeros (1, numel (rows));
      for k = 1:numel (rows)
        v.Lines(k) = line (NaN, NaN, 'Parent', v.Axes, 'Color', colors(k, :), 'LineWidth', 1.5);
      end
      grid (v.Axes, 'on');
      xlabel (v.Axes, 'time (s)');
      title (v.Axes, name);
      legend (v.Axes, names(rows), 'Location', 'northwest');
      v.Clock = tic;
    end

    function update (v, now)
      if (nargin < 2 && toc (v.Clock) < v.Next)
        return;
      end
      started = toc (v.Clock);
      r = v.Record;
      if (r.Count > 0)
        x = rows (r, [1 v.Rows], v.cycles_in_window ());
        t = x(1, :);
        keep = t >= t(end) - v.Window;
        step = max (1, floor (nnz (keep) / kelbio_liveview.kMaxPoints));
        at = find (keep);
        at = unique ([at(1:step:end), at(end)]);
        for k = 1:numel (v.Lines)
          set (v.Lines(k), 'XData', t(at), 'YData', x(k + 1, at));
        end
        set (v.Axes, 'XLim', [max(0, t(end) - v.Window), max(t(end), v.Window)]);
      end
      drawnow ();
      v.Draws = v.Draws + 1;
      took = toc (v.Clock) - started;
      v.Next = toc (v.Clock) + max (1 / v.MaxRate, took / v.Budget);
    end
  end

  methods (Access = private)
    % Cycles to fetch for one window: from the record's recent time step.
    function n = cycles_in_window (v)
      r = v.Record;
      recent = rows (r, 1, min (r.Count, 64));
      if (numel (recent) < 2 || recent(end) <= recent(1))
        n = r.Count;
        return;
      end
      n = ceil (v.Window / ((recent(end) - recent(1)) / (numel (recent) - 1))) + 64;
    end
  end
end
