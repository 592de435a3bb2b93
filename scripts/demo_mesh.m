## Cuts a disc out of a triangulated plate and renumbers the disc's element
## table to its own local node numbering with meshLookup.
## Environment: MESHLOOKUP_OCTAVE_DIR (the module's folder), DEMO_OUT (output folder).
addpath (getenv ("MESHLOOKUP_OCTAVE_DIR"));
out_dir = getenv ("DEMO_OUT");

## A plate of nx-by-ny nodes, two triangles per cell, nodes gently jittered.
nx = 80; ny = 50;
[X, Y] = meshgrid (linspace (0, 2, nx), linspace (0, 1.25, ny));
rand ("seed", 1);
h = 2 / (nx - 1);
X(2:end-1, 2:end-1) += 0.2 * h * (rand (ny - 2, nx - 2) - 0.5);
Y(2:end-1, 2:end-1) += 0.2 * h * (rand (ny - 2, nx - 2) - 0.5);
xy = [X(:), Y(:)];
id = reshape (1:nx*ny, ny, nx);
a = id(1:end-1, 1:end-1)(:); b = id(2:end, 1:end-1)(:);
c = id(2:end, 2:end)(:);     d = id(1:end-1, 2:end)(:);
elements = [a b c; a c d];

## The sub-mesh: every triangle whose centroid lies in a disc.
centre = [1.1 0.6]; radius = 0.22;
centroid = (xy(elements(:, 1), :) + xy(elements(:, 2), :) + xy(elements(:, 3), :)) / 3;
inside = sum ((centroid - centre) .^ 2, 2) < radius ^ 2;
sub = elements(inside, :);
## Local numbering: the sub-mesh's nodes ordered by angle around the centre,
## so local and global numbers differ visibly.
kept = unique (sub(:));
[~, order] = sort (atan2 (xy(kept, 2) - centre(2), xy(kept, 1) - centre(1)));
kept = kept(order);

tic;
line = evalc ("local = meshLookup (sub, kept);");
elapsed = toc;

## The same with Octave's own set functions.
[found, expected] = ismember (sub, kept);
ok = all (found(:)) && isequal (local, expected) && isequal (kept(local), sub);

printf ("plate:     %d nodes, %d triangles\n", rows (xy), rows (elements));
printf ("sub-mesh:  %d nodes, %d triangles (disc of radius %.2f)\n", numel (kept), rows (sub), radius);
printf ("module:    %s", line);
printf ("renumber:  %d entries against %d list entries in %.3f ms\n", numel (sub), numel (kept), 1e3 * elapsed);
verdict = {"MISMATCH", "same result"}{ok + 1};
printf ("check:     %s (against ismember)\n", verdict);
printf ("first elements, global -> local:\n");
for e = 1:3
  printf ("  [%4d %4d %4d] -> [%3d %3d %3d]\n", sub(e, :), local(e, :));
endfor

## A picture: the whole plate in light grey, the cut-out disc on top in colour
## with its local node numbers. Without it the demo has failed.
png = fullfile (out_dir, "submesh.png");
drawn = false;
try
  warning ("off", "Octave:gnuplot-graphics");
  graphics_toolkit ("gnuplot");
  f = figure ("visible", "off", "position", [0 0 1200 800]);
  triplot (elements, xy(:, 1), xy(:, 2), "color", [0.82 0.82 0.82]);
  hold on;
  p = xy(kept, :);
  triplot (local, p(:, 1), p(:, 2), "color", [0 0.35 0.8], "linewidth", 1.2);
  plot (p(:, 1), p(:, 2), "o", "markersize", 2, "color", [0 0.35 0.8]);
  text (p(:, 1), p(:, 2), arrayfun (@num2str, (1:numel (kept))', "UniformOutput", false),
        "fontsize", 5, "color", [0.75 0 0], "horizontalalignment", "center",
        "verticalalignment", "bottom");
  axis equal; axis off;
  title (sprintf ("meshLookup renumbered the disc's element table: %d entries (%d triangles) to %d local nodes in %.2f ms",
                  numel (sub), rows (sub), numel (kept), 1e3 * elapsed), "fontsize", 9);
  print (f, png, "-dpng", "-r150");
  drawn = exist (png, "file") == 2;
  printf ("picture:   %s\n", png);
catch err
  printf ("picture:   not written (%s)\n", err.message);
end_try_catch
exit (! (ok && drawn));
