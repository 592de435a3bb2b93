## pkg install puts the compiled module in the package's architecture folder
## and meshLookup.m, which holds only its help, in the package folder. Octave
## takes a module's help from a .m file of the same name beside it, so without
## a copy there `help meshLookup` finds nothing (and pkg warns while it builds
## its help cache).
function post_install (desc)
  found = dir (fullfile (desc.dir, "*", "meshLookup.mex"));
  if (isfield (desc, "archprefix"))
    found = [found; dir(fullfile (desc.archprefix, "*", "meshLookup.mex"))];
  endif
  if (isempty (found))
    error ("meshlookup: the built meshLookup.mex was not found beside %s", desc.dir);
  endif
  for i = 1:numel (found)
    [ok, msg] = copyfile (fullfile (desc.dir, "meshLookup.m"), found(i).folder);
    if (! ok)
      error ("meshlookup: could not copy the help file beside the module: %s", msg);
    endif
  endfor
endfunction
