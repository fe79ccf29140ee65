%DEMO  Closed-loop position control of a TIRK motor setup through kelbio.
%   A PD controller holds the motor shaft on a set-point that steps between
%   a few angles. The loop is paced by kelbio_pace at a fixed period (1 ms):
%   once per period it reads the board's input block, computes the motor
%   voltage from the position and speed, and writes it back. The run lasts
%   a few seconds of the board's own time (the sum of the elapsed times it
%   reports). Every cycle goes into a kelbio_record, which is saved as a
%   .mat and a CSV file and loaded back for the plot.
%
%   The script prints a short table, how many deadlines the loop missed, and
%   saves a plot of set-point and position against time as a PNG file,
%   without a display.
%
%   Set these variables before running the script to change its defaults:
%     demo_port     port name                 (default 'TIRK1')
%     demo_seconds  length of the run, in s   (default 4)
%     demo_period   the loop's period, in s   (default 1e-3)
%     demo_png      file for the plot         (default 'kelbio_demo.png')
%     demo_record   file for the record       (default 'kelbio_demo.mat';
%                   the CSV goes beside it)
%     demo_live     true: a live view of set-point and position (needs a display)
%
%   Runs unchanged in MATLAB and GNU Octave, with kelbio on the path:
%     run('demo.m')

if ~exist('demo_port', 'var'),    demo_port = 'TIRK1';          end
if ~exist('demo_seconds', 'var'), demo_seconds = 4;             end
if ~exist('demo_period', 'var'),  demo_period = 1e-3;           end
if ~exist('demo_png', 'var'),     demo_png = 'kelbio_demo.png'; end
if ~exist('demo_record', 'var'),  demo_record = 'kelbio_demo.mat'; end
if ~exist('demo_live', 'var'),    demo_live = false;            end

% The set-point, in radians of shaft angle, from the given times on.
step_time  = [0  0.25  1.5  2.75];
step_angle = [0  2*pi  -pi  pi/2];

% Gains for a motor of about 20 rad/s per volt and 0.16 s time constant:
% a closed loop of about 20 rad/s, well damped. DAC 1 is limited to +-10 V.
kp = 3.2;    % V per rad
kd = 0.24;   % V per rad/s

board = kelbio_board(demo_port);   % closed when cleared, or below on an error
% Should the loop stop without closing the port, the board stops the
% motor 0.1 s after the last Write.
board.WatchdogTimeout = 0.1;
write(board, 1, 0, 0);   % bit 0 of the command: positions count from here

read_names = {'status', 'elapsed', 'position', 'speed', 'current', 'motor_volts', ...
              'extern_volts', 'digital_in', 'average_speed'};
rec = kelbio_record(ceil(1.2 * demo_seconds / demo_period), {'setpoint', 'volts'}, read_names);
if demo_live
    view = kelbio_liveview(rec, {'setpoint', 'position'}, 'Title', demo_port);
end
plant_time = 0;
target = step_angle(1);
next_step = 2;
try
    kelbio_pace('start', demo_period, 'skip');
    tic;
    while plant_time < demo_seconds
        kelbio_pace();
        d = read(board);           % a failed read raises an error here
        plant_time = plant_time + d(2);
        if next_step <= numel(step_time) && plant_time >= step_time(next_step)
            target = step_angle(next_step);
            next_step = next_step + 1;
        end
        u = kp * (target - d(3)) - kd * d(4);
        u = max(-10, min(10, u));
        write(board, 0, 0, u);
        add(rec, plant_time, [target; u], d);
        if demo_live, update(view); end
    end
    wall = toc;
catch err
    % Stop the motor and give the board back before reporting.
    write(board, 0, 0, 0);
    fprintf('The control loop stopped after %d cycles (ReadError %u, WriteError %u).\n', ...
            rec.Count, board.ReadError, board.WriteError);
    delete(board);
    rethrow(err);
end
pace = kelbio_pace('stats');
write(board, 0, 0, 0);
delete(board);

% The record as saved, read back from the file.
[folder, stem] = fileparts(demo_record);
demo_csv = fullfile(folder, [stem '.csv']);
save(rec, demo_record);
save(rec, demo_csv);
saved = kelbio_record.load(demo_record);
t = saved.Time';
setpoint = saved.Outputs(1, :)';
volts = saved.Outputs(2, :)';
position = saved.Read(3, :)';
speed = saved.Read(4, :)';
status = saved.Read(1, :)';
n = saved.Count;

fprintf('\nPosition control of %s: %d cycles in %.2f s of board time\n\n', demo_port, n, t(end));
fprintf('   time (s)   set-point (rad)   position (rad)   speed (rad/s)   status\n');
for at = [0.2 0.5 1.0 1.45 2.0 2.7 3.5 demo_seconds]
    k = find(t >= at, 1);
    if isempty(k), k = n; end
    fprintf('   %8.3f   %15.3f   %14.3f   %13.2f   %6d\n', t(k), setpoint(k), position(k), ...
            speed(k), status(k));
end
fprintf('\nLoop rate: %.0f Write/Read cycles per second (%.2f s on the host)\n', n / wall, wall);
fprintf('Deadlines: %d periods of %g ms, %d missed (lateness mean %.0f us, p99 %.0f us, max %.1f ms)\n', ...
        pace.Periods, 1e3 * demo_period, pace.Missed, 1e6 * pace.LatenessMean, ...
        1e6 * pace.LatenessP99, 1e3 * pace.LatenessMax);
fprintf('Position error at the end: %.4f rad\n', setpoint(end) - position(end));
fprintf('Record saved in %s and %s (%d cycles), and loaded back for the plot\n', ...
        demo_record, demo_csv, n);

if exist('OCTAVE_VERSION', 'builtin')
    warning('off', 'Octave:gnuplot-graphics');   % gnuplot is all a display-less Octave has
end
fig = figure('Visible', 'off');
keep = unique([1:max(1, floor(n / 2000)):n, n]);   % a few thousand points draw the same
plot(t(keep), setpoint(keep), '--', t(keep), position(keep), 'LineWidth', 1.5);
grid on;
xlim([0 max(t(end), 0.1)]);
xlabel('board time (s)');
ylabel('shaft angle (rad)');
title(sprintf('kelbio: position control of %s', demo_port));
legend('set-point', 'position', 'Location', 'northeast');
print(fig, '-dpng', '-r100', demo_png);
close(fig);
fprintf('Plot saved in %s\n', demo_png);
