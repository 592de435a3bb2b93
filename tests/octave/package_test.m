## The Octave package as a user installs it: pkg install into a throw-away
## prefix (nothing of the user's own packages is touched), pkg load, the
## package's own tests, calls against a plain reference, pkg uninstall.
## Argument: the package file.
args = argv ();
tarball = args{1};
root = tempname ();
mkdir (root);
pkg ("prefix", fullfile (root, "pkg"), fullfile (root, "pkg"));
pkg ("local_list", fullfile (root, "local_packages"));
pkg ("global_list", fullfile (root, "global_packages"));
pkg ("install", "-local", tarball);
pkg ("load", "meshlookup");

where = which ("meshLookup");
assert (strncmp (where, root, numel (root)), "meshLookup comes from %s", where);
printf ("ok: installed, loaded, meshLookup is %s\n", where);

assert (! isempty (strfind (evalc ("help meshLookup"), "Renumber a mesh table")), "help meshLookup finds no help");
printf ("ok: help meshLookup\n");

[passed, total] = test ("meshLookup", "quiet");
assert (total > 0 && passed == total, "test meshLookup: %d of %d passed", passed, total);
printf ("ok: test meshLookup passed %d of %d\n", passed, total);

## news shows this release's entry first.
version = pkg ("describe", "meshlookup"){1}.version;
heading = strsplit (evalc ("news meshlookup"), "\n"){1};
wanted = ["Summary of important user-visible changes for meshlookup " version " "];
assert (strncmp (heading, wanted, numel (wanted)), "news meshlookup starts with: %s", heading);
printf ("ok: news meshlookup shows %s\n", heading);

## The rule with Octave's own functions, keys within the int32 range.
function r = reference_lookup (t, l)
  r = t;
  [u, first] = unique (fix (l(:)), "first");
  [found, where] = ismember (fix (t), u);
  r(found) = first(where(found));
endfunction
rand ("seed", 5);
for n = [0 1 7 1001]
  t = randi ([-30 30], n, 3) + 0.5 * rand (n, 3);
  l = randi ([-30 30], 1 + mod (n, 40), 1) + 0.5 * rand (1 + mod (n, 40), 1);
  evalc ("r = meshLookup (t, l);");
  assert (r, reference_lookup (t, l));
endfor
printf ("ok: calls against the reference\n");

## The README's example.
evalc ("local = meshLookup ([10 12 11; 12 13 11], [11 12 13 10]);");
assert (local, [4 2 1; 2 3 1]);
printf ("ok: the README's example\n");

pkg ("uninstall", "-local", "meshlookup");
installed = pkg ("list");
assert (! any (cellfun (@(p) strcmp (p.name, "meshlookup"), installed)), "meshlookup is still installed");
assert (isempty (dir (fullfile (root, "pkg", "meshlookup-*"))), "package files left");
printf ("ok: uninstalled\n");
confirm_recursive_rmdir (false);
rmdir (root, "s");
