%DEMO  Closed-loop position control of a TIRK motor setup through kelbio.
%   A PD controller holds the motor shaft on a set-point that steps between
%   a few angles. Once per sample it reads the board's input block, computes
%   the motor voltage from the position and speed, and writes it back. The
%   run lasts a few seconds of the board's own time (the sum of the elapsed
%   times it reports), however fast or slow the host loop is.
%
%   The script prints a short table and the loop rate, and saves a plot of
%   set-point and position against time as a PNG file, without a display.
%
%   Set these variables before running the script to change its defaults:
%     demo_port     port name                 (default 'TIRK1')
%     demo_seconds  length of the run, in s   (default 4)
%     demo_png      file for the plot         (default 'kelbio_demo.png')
%
%   Runs unchanged in MATLAB and GNU Octave, with kelbio on the path:
%     run('demo.m')

if ~exist('demo_port', 'var'),    demo_port = 'TIRK1';          end
if ~exist('demo_seconds', 'var'), demo_seconds = 4;             end
if ~exist('demo_png', 'var'),     demo_png = 'kelbio_demo.png'; end

% The set-point, in radians of shaft angle, from the given times on.
step_time  = [0  0.25  1.5  2.75];
step_angle = [0  2*pi  -pi  pi/2];

% Gains for a motor of about 20 rad/s per volt and 0.16 s time constant:
% a closed loop of about 20 rad/s, well damped. DAC 1 is limited to +-10 V.
kp = 3.2;    % V per rad
kd = 0.24;   % V per rad/s

p = kelbio('Open', demo_port);
% Should the loop stop without closing the port, the board stops the
% motor 0.1 s after the last Write.
p.WatchdogTimeout = 0.1;
p = kelbio('SetParams', p);
kelbio('Write', p, 1, 0, 0);   % bit 0 of the command: positions count from here

room = 50000;                  % grows if the board samples faster
t = zeros(room, 1);
setpoint = t; position = t; speed = t; volts = t; status = t;
n = 0;
plant_time = 0;
target = step_angle(1);
next_step = 2;
try
    tic;
    while plant_time < demo_seconds
        [d, ~] = kelbio('Read', p);   % a failed read raises an error here
        plant_time = plant_time + d(2);
        if next_step <= numel(step_time) && plant_time >= step_time(next_step)
            target = step_angle(next_step);
            next_step = next_step + 1;
        end
        u = kp * (target - d(3)) - kd * d(4);
        u = max(-10, min(10, u));
        kelbio('Write', p, 0, 0, u);

        n = n + 1;
        t(n) = plant_time;
        setpoint(n) = target;
        position(n) = d(3);
        speed(n) = d(4);
        volts(n) = u;
        status(n) = d(1);
    end
    wall = toc;
catch err
    % Stop the motor and give the board back before reporting.
    kelbio('Write', p, 0, 0, 0);
    [p, ~] = kelbio('GetParams', p);
    kelbio('Close', p);
    fprintf('The control loop stopped after %d cycles (ReadError %u, WriteError %u).\n', ...
            n, p.ReadError, p.WriteError);
    rethrow(err);
end
kelbio('Write', p, 0, 0, 0);
kelbio('Close', p);

t = t(1:n); setpoint = setpoint(1:n); position = position(1:n);
speed = speed(1:n); volts = volts(1:n); status = status(1:n);

fprintf('\nPosition control of %s: %d cycles in %.2f s of board time\n\n', demo_port, n, t(end));
fprintf('   time (s)   set-point (rad)   position (rad)   speed (rad/s)   status\n');
for at = [0.2 0.5 1.0 1.45 2.0 2.7 3.5 demo_seconds]
    k = find(t >= at, 1);
    if isempty(k), k = n; end
    fprintf('   %8.3f   %15.3f   %14.3f   %13.2f   %6d\n', t(k), setpoint(k), position(k), ...
            speed(k), status(k));
end
fprintf('\nLoop rate: %.0f Write/Read cycles per second (%.2f s on the host)\n', n / wall, wall);
fprintf('Position error at the end: %.4f rad\n', setpoint(end) - position(end));

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
