## meshLookup_make as users run it from the source tree, one way in per call:
##   make_tests.m ROOT octave FOLDER     in this Octave: it builds the module,
##       calls it and prints the addpath line; the module then passes the
##       package's own tests ("test meshLookup" on the help file beside it),
##       exports only mexFunction (and the ABI marker where this Octave has
##       one) and runs on Octave's own OpenMP runtime.
##   make_tests.m ROOT matlab FOLDER     MATLAB on Linux, in a stand-in MATLAB
##       session (standin/matlab-session): built with the stand-in mex against
##       the stand-in tree (STANDIN_MATLABROOT), its own check's call goes to
##       the stand-in host (tests/octave/standin_call); the module exports
##       mexFunction and mexfilerequiredapiversion and runs on the tree's
##       bundled libiomp5.
##   make_tests.m ROOT elsewhere         MATLAB on Windows and macOS, in the
##       same session: the command each would run, checked against what MATLAB
##       documents for it, and the stops for compilers and runtimes that cannot
##       build the module; nothing is built.
args = argv ();
[root, way] = deal (args{1:2});
here = fileparts (mfilename ("fullpath"));

## check SCRIPT ARGS...: one of the suite's shell checks, which must pass.
function check (root, script, varargin)
  command = sprintf ("sh '%s'", fullfile (root, "tests", script));
  for k = 1:numel (varargin)
    command = [command " '" varargin{k} "'"];
  endfor
  [status, text] = system (command);
  printf ("%s", text);
  assert (status == 0, "%s failed", script);
endfunction
function has (text, varargin)
  for k = 1:numel (varargin)
    assert (! isempty (strfind (text, varargin{k})), "'%s' not in:\n%s", varargin{k}, text);
  endfor
endfunction
function lacks (text, varargin)
  for k = 1:numel (varargin)
    assert (isempty (strfind (text, varargin{k})), "'%s' in:\n%s", varargin{k}, text);
  endfor
endfunction
## plan (ARCH, COMPILER, OMP_PREFIX): the mex call printed for that platform
## and compiler, or the error.
function text = plan (arch, compiler, omp_prefix)
  setenv ("STANDIN_ARCH", arch);
  setenv ("STANDIN_COMPILER", compiler);
  setenv ("OMP_PREFIX", omp_prefix);
  try
    text = evalc ("meshLookup_make ('-n');");
  catch err
    text = err.message;
  end_try_catch
endfunction

warning ("off", "Octave:shadowed-function");
addpath (root);
if (! strcmp (way, "octave"))
  addpath (fullfile (root, "standin", "matlab-session"));
endif

if (any (strcmp (way, {"octave", "matlab"})))
  folder = args{3};
  if (strcmp (way, "matlab"))
    addpath (fullfile (here, "standin_call"));
    setenv ("STANDIN_COMPILER", "g++:GNU");
  endif
  out = evalc ("meshLookup_make (folder);");
  printf ("%s", out);
  has (out, "Renumbering Mesh: running on: ", sprintf ("addpath('%s')", folder));
  if (strcmp (way, "octave"))
    module = fullfile (folder, "meshLookup.mex");
    addpath (folder);
    assert (which ("meshLookup"), module);
    [passed, total] = test ("meshLookup", "quiet");
    assert (total > 0 && passed == total, "test meshLookup: %d of %d passed", passed, total);
    printf ("ok: test meshLookup passed %d of %d\n", passed, total);
    bindir = feval ("__octave_config_info__", "bindir");
    check (root, "check_exports.sh", module, "--octave", fullfile (bindir, "mkoctfile"));
    check (root, "check_openmp_runtime.sh", module, "--as", fullfile (bindir, "octave-cli"));
  else
    module = fullfile (folder, "meshLookup.mexa64");
    assert (exist (fullfile (folder, "meshLookup.m"), "file"), 2);
    check (root, "check_exports.sh", module, "--matlab");
    check (root, "check_openmp_runtime.sh", module, "libiomp5.so");
  endif
  exit (0);
endif

## A fake tree holding the runtime files each platform bundles.
tree = tempname ();
for f = {"bin/maca64/libomp.dylib", "sys/os/maci64/libiomp5.dylib"}
  mkdir (fileparts (fullfile (tree, f{1})));
  fclose (fopen (fullfile (tree, f{1}), "w"));
endfor
omp = tempname ();
mkdir (fullfile (omp, "include"));
fclose (fopen (fullfile (omp, "include", "omp.h"), "w"));
setenv ("STANDIN_MATLABROOT", tree);

## Windows with MinGW-w64: GCC's OpenMP, the unaligned-move assembler option,
## the module linked statically; Visual C++ or no compiler: a stop naming
## MinGW-w64 and the prebuilt archive.
text = plan ("win64", "mingw64-g++:GNU", "");
has (text, "mex('-R2017b'", "'CXXFLAGS=$CXXFLAGS ", "-fopenmp", "-Wa,-muse-unaligned-vector-move",
     "'LDFLAGS=$LDFLAGS ", " -static", "meshLookup.cpp'", "scan_avx512.cpp'");
lacks (text, "iomp5", "-lomp");
printf ("ok: win64 with MinGW-w64: %s", text);
for c = {"MSVCPP170:Microsoft", ""}
  text = plan ("win64", c{1}, "");
  has (text, "Mesh renumbering: ", "MinGW-w64");
  lacks (text, "mex(");
endfor
has (plan ("win64", "MSVCPP170:Microsoft", ""), "mexw64.zip");
printf ("ok: win64 with Visual C++ or no compiler: stops, naming MinGW-w64\n");

## macOS: Apple's clang compiles OpenMP through its preprocessor with
## libomp's omp.h, and links the runtime MATLAB bundles for the platform.
text = plan ("maca64", "Clang++:Apple", omp);
has (text, "-Xpreprocessor -fopenmp", ["-I\"" omp "/include\""],
     ["'LINKLIBS=$LINKLIBS -L\"" tree "/bin/maca64\" -lomp'"]);
lacks (text, "LDFLAGS", "iomp5", "-static");
printf ("ok: maca64: %s", text);
text = plan ("maci64", "Clang++:Apple", omp);
has (text, "-Xpreprocessor -fopenmp", ["'LINKLIBS=$LINKLIBS -L\"" tree "/sys/os/maci64\" -liomp5'"]);
printf ("ok: maci64: %s", text);
text = plan ("maca64", "Clang++:Apple", fullfile (tree, "no-libomp"));
has (text, "Mesh renumbering: ", "brew install libomp");
printf ("ok: maca64 without libomp: %s\n", text);
