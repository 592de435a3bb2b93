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
