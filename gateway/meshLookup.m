## -*- texinfo -*-
## @deftypefn {} {@var{result} =} meshLookup (@var{table}, @var{list})
## Renumber a mesh table by the positions of its values in a list.
##
## Every entry of @var{table} whose integer part equals the integer part of an
## entry of @var{list} becomes the 1-based position of the @emph{first} such
## list entry; every other entry is copied unchanged, bit for bit.
##
## The integer part (the key) is the value truncated toward zero to a signed
## 32-bit integer: 3.9 and 3 both have the key 3, -0.5 has the key 0.  NaN,
## Inf, -Inf and values whose truncation does not fit in int32 all have the key
## -2147483648, so they match each other and -2147483648 itself.
##
## @var{table} is a real, full double array of any shape; the result has its
## row count and column count (columns are all dimensions after the first).
## @var{list} is a real, full double array read as a flat list.  The work is
## shared by one worker per processor; each call prints one line saying how
## many.
##
## Errors: "Mesh renumbering: wrong no.@: of input!" (not two arguments),
## "Mesh renumbering: wrong no.@: of output" (not one result: call it as
## @code{r = meshLookup (t, l)}), "Mesh renumbering: table must be a real full
## double array", "Mesh renumbering: list must be a real full double array",
## "Mesh renumbering: table too large", "Mesh renumbering: list too large".
##
## Example: renumber an element table to the local numbering of its nodes.
## @example
## @group
## elements = [10 12 11; 12 13 11];
## nodes = [11 12 13 10];
## local = meshLookup (elements, nodes)
##   @result{} Renumbering Mesh: running on: 2 cores
##   @result{} local = [4 2 1; 2 3 1]
## @end group
## @end example
## @end deftypefn

## This file holds only the help text; calls go to the compiled module
## meshLookup.mex (meshLookup.mexa64, meshLookup.mexw64) beside it.

## Tests, run by "test meshLookup" (Octave); MATLAB reads them as comments.
%!test
%! ## The first matching list entry wins; fractions take no part in a match,
%! ## and an entry whose key is in no list entry keeps its value.
%! evalc ("r = meshLookup ([3.7 2.5 -0.7; 3 9 0], [5 3.2 3 0.4]);");
%! assert (r, [2 2.5 4; 2 9 4]);
%!test
%! ## Keys at and beyond the int32 range: NaN, Inf and everything out of range
%! ## share the key -2147483648.
%! t = [2147483647.9, 2147483648, -2147483648.5, -2147483649, NaN, Inf, -Inf];
%! evalc ("r = meshLookup (t, [7, -2147483648, 2147483647]);");
%! assert (r, [3 2 2 2 2 2 2]);
%!test
%! ## Entries that match nothing are copied bit for bit: NaN payloads, -0.
%! payload = typecast (uint32 ([291 2146959360]), "double");
%! t = [payload, -0, 5.5, -Inf];
%! evalc ("r = meshLookup (t, [9 8]);");
%! assert (typecast (r, "uint32"), typecast (t, "uint32"));
%! evalc ("r = meshLookup (t, []);");
%! assert (typecast (r, "uint32"), typecast (t, "uint32"));
%!test
%! ## The result has the table's rows and columns; the list's shape does not
%! ## matter; each call prints one line.
%! want = reshape (1:12, 3, 4);
%! want([1 5 12]) = [2 3 1];
%! out = evalc ("r = meshLookup (reshape (1:12, 3, 4), [12 1 5]);");
%! assert (r, want);
%! assert (! isempty (regexp (out, '^Renumbering Mesh: running on: \d+ cores\n$', "once")));
%! evalc ("r = meshLookup (reshape (1:12, 3, 4), [12; 1; 5]);");
%! assert (r, want);
%! evalc ("r = meshLookup (zeros (0, 5), [1 2]);");
%! assert (size (r), [0 5]);
%!error <Mesh renumbering: wrong no. of input!> meshLookup (1)
%!error <Mesh renumbering: wrong no. of input!> r = meshLookup (1, 2, 3)
%!error <Mesh renumbering: wrong no. of output> meshLookup (1, 2)
%!error <Mesh renumbering: table must be a real full double array> r = meshLookup (int32 (1), 2)
