## meshLookup in Octave: real calls, the console line, errors and a
## differential test against the same rule written with Octave's set functions.
## Run with MESHLOOKUP_OCTAVE_DIR pointing at the folder holding meshLookup.mex.
1;

function r = quiet_lookup (t, l)
  ## The console line is checked in its own test; keep it out of the log here.
  evalc ("r = meshLookup (t, l);");
endfunction

## Runs code, which may use the variable b, and expects message.
function expect_error (message, code, b)
  try
    evalc (code);
  catch err
    ## Octave puts the function's name in front of the text.
    assert (regexp (err.message, [regexptranslate("escape", message) "$"], "once") > 0,
            sprintf ("got '%s', want '%s'", err.message, message));
    return;
  end_try_catch
  error ("no error from: %s", code);
endfunction

function k = keys_of (x)
  k = fix (x(:));
  k(! (k >= -2^31 & k <= 2^31 - 1)) = -2^31;   # NaN fails both tests
endfunction

## The rule with Octave's own functions. ismember gives the last index of a
## duplicate, so the first positions come from unique (..., "first").
function r = reference_lookup (t, l)
  r = t;
  [u, first] = unique (keys_of (l), "first");
  [found, where] = ismember (keys_of (t), u);
  r(found) = first(where(found));
endfunction

function x = random_values (n, key_range)
  x = randi ([-key_range, key_range], n, 1) + (rand (n, 1) * 1.998 - 0.999);
  special = [Inf, -Inf, -0, 0, 2147483647.9, 2147483648, -2147483648.9, ...
             -2147483649, -2147483648, 1e300, -1e300];
  kind = randi (20, n, 1);
  pick = kind <= 2;
  x(pick) = special(randi (numel (special), nnz (pick), 1));
  nans = kind == 3;
  payload = bitor (uint64 (randi (2^40, nnz (nans), 1)), 0x7FF0000000000000);
  x(nans) = typecast (payload, "double");
endfunction

function same_bits (a, b)
  assert (size (a), size (b));
  assert (typecast (a(:), "uint64"), typecast (b(:), "uint64"));
endfunction

function test_real_calls ()
  assert (quiet_lookup (3.7, [5 3.2 3]), 2);
  assert (quiet_lookup ([2.5 -0.7], [0.4 7]), [2.5 1]);
  assert (quiet_lookup ([10 12 11; 12 13 11], [11 12 13 10]), [4 2 1; 2 3 1]);
  l = [1 2 3 7.5 5 6 8 9 7 10];
  assert (quiet_lookup ([7 7.9 -1], l), [4 4 -1]);
  assert (quiet_lookup ([NaN Inf -3e9 2147483648], [5 -2147483648]), [2 2 2 2]);
endfunction

function test_help_text ()
  text = evalc ("help meshLookup");
  assert (! isempty (strfind (text, "1-based position of the _first_ such")));
endfunction

function test_console_line ()
  ## omp_get_num_procs ignores OMP_NUM_THREADS; so must the expected count.
  saved = getenv ("OMP_NUM_THREADS");
  unsetenv ("OMP_NUM_THREADS");
  cores = nproc ();
  if (! isempty (saved))
    setenv ("OMP_NUM_THREADS", saved);
  endif
  out = evalc ("r = meshLookup ([1 2; 3 4], [4 3]);");
  assert (out, sprintf ("Renumbering Mesh: running on: %d cores\n", cores));
  assert (r, [1 2; 2 1]);
  out = evalc ("r = meshLookup (zeros (0, 5), [4 3]);");
  assert (out, sprintf ("Renumbering Mesh: running on: %d cores\n", cores));
  assert (size (r), [0 5]);
endfunction

function test_count_errors ()
  expect_error ("Mesh renumbering: wrong no. of input!", "r = meshLookup ([1 2]);");
  expect_error ("Mesh renumbering: wrong no. of input!", "r = meshLookup (1, 2, 3);");
  expect_error ("Mesh renumbering: wrong no. of input!", "meshLookup ();");
  expect_error ("Mesh renumbering: wrong no. of output", "meshLookup ([1 2], 1);");
  expect_error ("Mesh renumbering: wrong no. of output", "[a, b] = meshLookup ([1 2], 1);");
  ## Nothing is printed when a call is refused.
  out = evalc ("try, meshLookup ([1 2], 1); catch, end");
  assert (out, "");
endfunction

function test_bad_classes ()
  bad = {single([1 2]), int32([1 2]), true(1, 2), "ab", {1, 2}, struct("a", 1), ...
         sparse([1 2]), [1+2i 2], uint8([1 2])};
  for k = 1:numel (bad)
    b = bad{k};
    expect_error ("Mesh renumbering: table must be a real full double array",
                  "r = meshLookup (b, [1 2]);", b);
    expect_error ("Mesh renumbering: list must be a real full double array",
                  "r = meshLookup ([1 2], b);", b);
    assert (quiet_lookup ([1 2], [2 1]), [2 1]);   # the session goes on
  endfor
endfunction

function test_shapes ()
  l = [5 3 9 1 3];
  t = randi (10, 3, 4);
  assert (size (quiet_lookup (t, l)), [3 4]);
  assert (quiet_lookup (t, l), quiet_lookup (t, l'));
  assert (quiet_lookup (t, l), quiet_lookup (t, reshape ([l 0], 2, 3)(1:5)));
  cube = reshape (mod (0:23, 7), 2, 3, 4);
  r = quiet_lookup (cube, [6 0 6.5]);
  assert (size (r), [2 12]);
  assert (r, reference_lookup (reshape (cube, 2, 12), [6 0 6.5]));
  assert (size (quiet_lookup (zeros (4, 0), [1 2])), [4 0]);
  same_bits (quiet_lookup ([1 2 3], zeros (0, 1)), [1 2 3]);
endfunction

function test_bits_survive ()
  payloads = typecast (uint64 ([0x7FF8000000000123; 0xFFF0000000000042; 0x7FF4000000000001]), "double");
  t = [payloads; -0; 2.5; -Inf];
  same_bits (quiet_lookup (t, []), t);
  same_bits (quiet_lookup (t, [7 8]), t);
  r = quiet_lookup (t, [3 -2147483648]);
  same_bits (r, [2; 2; 2; -0; 2.5; 2]);
endfunction

function test_matches_reference ()
  rand ("seed", 42); randn ("seed", 42);
  for n = [0 1 2 3 7 17 1001]
    for count = [0 1 3 8 9 17 100]
      range = randi (64);
      t = reshape (random_values (n, range), 1, n);
      l = random_values (count, range);
      same_bits (quiet_lookup (t, l), reference_lookup (t, l));
    endfor
  endfor
  t = reshape (random_values (20000, 500), 100, 200);
  l = random_values (700, 500);
  same_bits (quiet_lookup (t, l), reference_lookup (t, l));
endfunction

addpath (getenv ("MESHLOOKUP_OCTAVE_DIR"));
assert (exist ("meshLookup") == 3, "meshLookup.mex not found");
tests = {@test_real_calls, @test_help_text, @test_console_line, @test_count_errors, @test_bad_classes, ...
         @test_shapes, @test_bits_survive, @test_matches_reference};
passed = 0; failed = 0;
for k = 1:numel (tests)
  try
    tests{k} ();
    passed++;
    printf ("ok    %s\n", func2str (tests{k}));
  catch err
    failed++;
    printf ("FAIL  %s: %s\n", func2str (tests{k}), err.message);
  end_try_catch
endfor
printf ("%d passed, %d failed\n", passed, failed);
exit (failed > 0);
