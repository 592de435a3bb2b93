## meshLookup against what an Octave user would write instead: integer parts
## with fix, then ismember on them, with the first position of each key. The
## table has n = 1e5 entries, every one present in the list at a random place.
## Both are called through evalc, so both pay the same small overhead.
## Environment: MESHLOOKUP_OCTAVE_DIR, the folder holding meshLookup.mex.
addpath (getenv ("MESHLOOKUP_OCTAVE_DIR"));
rand ("seed", 7);

function r = idiom (t, l)
  [keys, first] = unique (fix (l(:)), "first");
  [found, where] = ismember (fix (t), keys);
  r = t;
  r(found) = first(where(found));
endfunction

function s = median_time (code, t, l, reps)
  times = zeros (reps, 1);
  for k = 1:reps
    tic; evalc (code); times(k) = toc;
  endfor
  s = median (times);
endfunction

n = 1e5;
lengths = 4 .^ (2:8);            # 16 ... 65536
printf ("n = %d table entries, every one present in the list\n", n);
printf ("%8s %14s %14s %10s\n", "list", "meshLookup ms", "idiom ms", "speed-up");
ratio = zeros (size (lengths));
for c = 1:numel (lengths)
  count = lengths(c);
  l = randperm (4 * count, count)(:) + 0.25;
  t = l(randi (count, n, 1)) + 0.5;
  evalc ("r1 = meshLookup (t, l);");
  assert (isequal (r1, idiom (t, l)));
  reps = max (3, min (25, round (2e8 / (n * count))));
  a = median_time ("r = meshLookup (t, l);", t, l, reps);
  b = median_time ("r = idiom (t, l);", t, l, 7);
  ratio(c) = b / a;
  printf ("%8d %14.3f %14.3f %9.2fx\n", count, 1e3 * a, 1e3 * b, ratio(c));
endfor
slower = find (ratio < 1, 1);
if (isempty (slower))
  printf ("crossover: meshLookup is faster at every list length up to %d\n", lengths(end));
else
  ## Interpolate where the ratio crosses 1, on a log scale of the length.
  x = log2 (lengths([slower-1, slower])); y = log ([ratio(slower-1), ratio(slower)]);
  cross = 2 ^ (x(1) + (0 - y(1)) * (x(2) - x(1)) / (y(2) - y(1)));
  printf ("crossover: about %d list entries (the idiom is faster beyond)\n", round (cross));
endif
