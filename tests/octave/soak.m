## 10,000 calls of meshLookup in one Octave session, half of them bad: every
## bad call raises the module's own error, every good one is right, and the
## session is still alive at the end.
addpath (getenv ("MESHLOOKUP_OCTAVE_DIR"));
rand ("seed", 3);
bad_calls = {
  @() meshLookup (1),
  @() meshLookup (1, 2, 3),
  @() meshLookup (int32 ([1 2]), [1 2]),
  @() meshLookup ([1 2], single ([1 2])),
  @() meshLookup ({1}, [1 2]),
  @() meshLookup ([1 2], sparse ([1 2])),
  @() meshLookup ([1i 2], [1 2]),
  @() meshLookup ("ab", [1 2]),
};
errors = 0; good = 0; wrong = 0;
for k = 1:10000
  if (mod (k, 2))
    try
      r = bad_calls{mod (floor (k / 2), numel (bad_calls)) + 1} ();
    catch err
      if (! isempty (strfind (err.message, "Mesh renumbering: ")))
        errors++;
      endif
    end_try_catch
  else
    t = randi ([-5 5], randi (6) - 1, randi (6) - 1) + 0.5;
    l = randi ([-5 5], 1, randi (12) - 1);
    evalc ("r = meshLookup (t, l);");
    [found, where] = ismember (fix (t), fix (l));
    first = arrayfun (@(w) find (fix (l) == fix (l(w)), 1), where(found));
    want = t; want(found) = first;
    if (isequal (size (r), size (t)) && isequal (r, want))
      good++;
    else
      wrong++;
    endif
  endif
endfor
printf ("%d bad calls refused with the module's message, %d good calls right, %d wrong\n",
        errors, good, wrong);
printf ("%d passed, %d failed\n", (errors == 5000) + (good == 5000), (errors != 5000) + (good != 5000));
exit (errors != 5000 || good != 5000);
