% Per-call cost of meshLookup inside Octave: a 10-entry table, median over
% back-to-back calls and over calls after 20 ms idle, and the CPU the process
% burns in the second after the last call (workers left spinning show there).
% Each call runs inside evalc, which takes the console line; only the call
% itself is timed.
addpath(getenv("MESHLOOKUP_OCTAVE_DIR"));
table = 0:9;
list = 9:-1:0;
evalc("r = meshLookup(table, list);");
function us = median_call(table, list, calls, pause_s)
  t = zeros(1, calls);
  for k = 1:calls
    if pause_s > 0
      pause(pause_s);
    end
    evalc("tic; r = meshLookup(table, list); t(k) = toc;");
  end
  us = 1e6 * median(t);
end
back = median_call(table, list, 2000, 0);
idle = median_call(table, list, 50, 0.02);
c0 = cputime;
pause(1);
cpu = 1e3 * (cputime - c0);
printf("Octave, call with 10 entries, median: %.1f us back to back, %.1f us after 20 ms idle; CPU in the second after: %.1f ms\n", back, idle, cpu);
