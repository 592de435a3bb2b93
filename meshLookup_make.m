function varargout = meshLookup_make(varargin)
%MESHLOOKUP_MAKE Build meshLookup with the compiler of this MATLAB or Octave.
%   MESHLOOKUP_MAKE builds the meshLookup module from this source tree with the
%   host's own mex, into build-make/HOST/ beside a copy of meshLookup.m (for
%   help), calls it once on a small table, checks the answer, and prints the
%   addpath line to use. HOST is octave-VERSION in Octave and computer('arch')
%   in MATLAB.
%
%   MESHLOOKUP_MAKE(FOLDER) builds into FOLDER instead.
%   MESHLOOKUP_MAKE(..., '-n') prints the build command and runs nothing.
%   FOLDER = MESHLOOKUP_MAKE(...) returns the folder.
%
%   OpenMP runs on the host's own runtime. Octave: the compiler's, as the
%   Octave package builds it (pkg install's Makefile, run here with make).
%   MATLAB on Linux: the libiomp5 MATLAB bundles (sys/os/glnxa64); on Apple
%   silicon its libomp (bin/maca64), on an Intel Mac its libiomp5
%   (sys/os/maci64), both compiled with omp.h from Homebrew's libomp (or from
%   the folder OMP_PREFIX names). MATLAB on Windows, with MinGW-w64: Intel's
%   runtime there does not serve GCC's OpenMP entry points, so GCC's runtime
%   is linked into the module, as in the prebuilt meshLookup.mexw64.
%
%   The engine needs GCC or clang; with Microsoft Visual C++ it stops and
%   says what to select or install instead.

dry = false;
folder = '';
for k = 1:numel(varargin)
  if strcmp(varargin{k}, '-n')
    dry = true;
  else
    folder = varargin{k};
  end
end
root = fileparts(mfilename('fullpath'));
is_octave = exist('OCTAVE_VERSION', 'builtin') == 5;
if isempty(folder)
  if is_octave
    host = ['octave-' OCTAVE_VERSION];
  else
    host = computer('arch');
  end
  folder = fullfile(root, 'build-make', host);
end

if ~dry
  if ~exist(folder, 'dir')
    mkdir(folder);
  end
  back = cd(folder);
  folder = pwd();
  cd(back);
  fprintf('Building meshLookup into %s\n', folder);
end
if is_octave
  module = build_octave(root, folder, dry);
else
  module = build_matlab(root, folder, dry);
end
if nargout > 0
  varargout{1} = folder;
end
if dry
  return
end
copyfile(fullfile(root, 'gateway', 'meshLookup.m'), folder);
check_module(folder);
fprintf('Built and checked %s\nTo use it: addpath(''%s'')\n', module, folder);
end

% --- Octave: the package's Makefile, in a folder holding the package's sources.
function module = build_octave(root, folder, dry)
bindir = feval('__octave_config_info__', 'bindir');
mkoctfile_program = fullfile(bindir, 'mkoctfile');
if ~exist(mkoctfile_program, 'file')
  error('Mesh renumbering: %s not found: install Octave''s development files (Debian: octave-dev or liboctave-dev)', ...
        mkoctfile_program);
end
work = tempname();
mkdir(work);
cleanup = onCleanup(@() remove_folder(work));
files = [{fullfile(root, 'package', 'octave', 'src', 'Makefile'), ...
          fullfile(root, 'gateway', 'meshLookup.cpp'), ...
          fullfile(root, 'gateway', 'exports.map'), ...
          fullfile(root, 'gateway', 'octave_marker.def')}, ...
         listed(fullfile(root, 'engine', '*.cpp')), listed(fullfile(root, 'engine', '*.h'))];
for k = 1:numel(files)
  copyfile(files{k}, work);
end
% As pkg install runs make: forward slashes and escaped spaces, through sh.
program = regexprep(strrep(mkoctfile_program, '\', '/'), '([^\\]) ', '$1\\ ');
target = strrep(work, '\', '/');
if dry
  command = sprintf('MKOCTFILE=''%s'' make -n --directory ''%s''', program, target);
else
  command = sprintf('MKOCTFILE=''%s'' make --directory ''%s''', program, target);
end
[status, output] = run_shell(command);
if status == 127
  error('Mesh renumbering: make not found: install it as for pkg install (Debian: apt-get install make)');
elseif status ~= 0
  fail_build(output, 'make');
end
if dry
  fprintf('%s\n', output);
  module = '';
  return
end
% A module loaded from this folder keeps its file mapped: the old file is
% removed rather than written over, which would change the code under it.
module = fullfile(folder, 'meshLookup.mex');
try
  if exist(module, 'file')
    delete(module);
  end
  copyfile(fullfile(work, 'meshLookup.mex'), module);
catch failure
  error(['Mesh renumbering: could not replace %s (%s); on Windows a module stays in use ' ...
         'until Octave exits: restart Octave, or build into another folder'], module, failure.message);
end
end

function [status, output] = run_shell(command)
if ispc() && ~isunix()
  command = ['sh.exe -c "' command '"'];
end
[status, output] = system(command);
end

function remove_folder(work)
state = confirm_recursive_rmdir(false);
rmdir(work, 's');
confirm_recursive_rmdir(state);
end

% --- MATLAB: mex with this platform's OpenMP flags, on MATLAB's own runtime.
function module = build_matlab(root, folder, dry)
arch = computer('arch');
compiler = feval('mex.getCompilerConfigurations', 'C++', 'Selected');
if isempty(compiler)
  error('Mesh renumbering: mex has no C++ compiler selected: run mex -setup C++ (%s)', ...
        compiler_hint(arch));
end
name = compiler(1).ShortName;
maker = compiler(1).Manufacturer;
release = strtrim(fileread(fullfile(root, 'VERSION')));
switch arch
  case 'glnxa64'
    need_compiler(name, maker, 'GNU', arch, release);
    runtime = bundled_runtime(arch, {'sys', 'os', 'glnxa64'}, 'libiomp5.so');
    cxxflags = '-fopenmp -fvisibility=hidden';
    linklibs = sprintf('-L"%s" -liomp5', runtime);
    ldflags = '';
  case 'win64'
    need_compiler(name, maker, 'GNU', arch, release);
    % GCC cannot align a Windows stack frame to 32 or 64 bytes: spilled
    % vector registers must be moved with unaligned instructions.
    cxxflags = '-fopenmp -Wa,-muse-unaligned-vector-move';
    ldflags = '-fopenmp -static';
    linklibs = '';
  case {'maca64', 'maci64'}
    need_compiler(name, maker, 'Apple', arch, release);
    if strcmp(arch, 'maca64')
      runtime = bundled_runtime(arch, {'bin', 'maca64'}, 'libomp.dylib');
      linklibs = sprintf('-L"%s" -lomp', runtime);
    else
      runtime = bundled_runtime(arch, {'sys', 'os', 'maci64'}, 'libiomp5.dylib');
      linklibs = sprintf('-L"%s" -liomp5', runtime);
    end
    cxxflags = sprintf('-Xpreprocessor -fopenmp -I"%s"', fullfile(omp_prefix(), 'include'));
    ldflags = '';
  otherwise
    error('Mesh renumbering: no build for platform %s; the modules are for glnxa64, win64, maca64 and maci64', arch);
end
sources = [{fullfile(root, 'gateway', 'meshLookup.cpp')}, listed(fullfile(root, 'engine', '*.cpp'))];
args = [{'-R2017b', '-outdir', folder, '-output', 'meshLookup', ['-I' fullfile(root, 'engine')], ...
         ['CXXFLAGS=$CXXFLAGS -std=c++17 ' cxxflags]}, ...
        extended('LDFLAGS', ldflags), extended('LINKLIBS', linklibs), sources];
module = fullfile(folder, ['meshLookup.' mexext()]);
if ~dry && strcmp(arch, 'win64') && exist(module, 'file')
  % A Windows module stays loaded until MATLAB exits, so its file cannot be
  % replaced before then.
  [~, loaded] = inmem('-completenames');
  if any(strcmpi(loaded, module))
    error(['Mesh renumbering: %s is loaded and stays in use until MATLAB exits: ' ...
           'restart MATLAB, or build into another folder'], module);
  end
end
if dry
  quoted = cellfun(@(a) ['''' strrep(a, '''', '''''') ''''], args, 'UniformOutput', false);
  fprintf('mex(%s)\n', strjoin(quoted, ', '));
  return
end
try
  mex(args{:});
catch failure
  fail_build(failure.message, 'mex');
end
end

function arg = extended(variable, flags)
if isempty(flags)
  arg = {};
else
  arg = {sprintf('%s=$%s %s', variable, variable, flags)};
end
end

function need_compiler(name, maker, wanted, arch, release)
if strcmp(maker, wanted)
  return
end
switch arch
  case 'win64'
    error(['Mesh renumbering: %s cannot build the engine, which needs GCC: select MinGW-w64 ' ...
           'with mex -setup C++ (the add-on "MATLAB Support for MinGW-w64 C/C++ Compiler"), ' ...
           'or take the prebuilt meshLookup-%s-mexw64.zip'], name, release);
  case 'glnxa64'
    error(['Mesh renumbering: %s cannot build the module here: select g++ with mex -setup C++, ' ...
           'or take the prebuilt meshLookup-%s-mexa64.zip'], name, release);
  otherwise
    error('Mesh renumbering: %s cannot build the module here: select Xcode''s clang with mex -setup C++', name);
end
end

function hint = compiler_hint(arch)
switch arch
  case 'win64'
    hint = 'on Windows: MinGW-w64, the add-on "MATLAB Support for MinGW-w64 C/C++ Compiler"';
  case 'glnxa64'
    hint = 'on Linux: g++';
  otherwise
    hint = 'on macOS: Xcode''s clang (xcode-select --install)';
end
end

% The folder of the OpenMP runtime MATLAB bundles, which the module links.
function where = bundled_runtime(arch, parts, file)
where = fullfile(matlabroot(), parts{:});
if ~exist(fullfile(where, file), 'file')
  error('Mesh renumbering: no %s in %s: this MATLAB (%s) does not bundle the OpenMP runtime the module links', ...
        file, where, arch);
end
end

% Homebrew's libomp provides omp.h for Apple's clang; OMP_PREFIX names another.
function prefix = omp_prefix()
prefix = getenv('OMP_PREFIX');
if isempty(prefix)
  [status, out] = system('brew --prefix libomp');
  if status == 0
    prefix = strtrim(out);
  end
end
if isempty(prefix) || ~exist(fullfile(prefix, 'include', 'omp.h'), 'file')
  error(['Mesh renumbering: Apple''s clang needs omp.h from LLVM''s libomp, which is not installed: ' ...
         'run brew install libomp in a terminal (or setenv(''OMP_PREFIX'', FOLDER) for a folder ' ...
         'holding include/omp.h)']);
end
end

% --- Both hosts.
function files = listed(pattern)
found = dir(pattern);
files = cellfun(@(name) fullfile(fileparts(pattern), name), {found.name}, 'UniformOutput', false);
end

function fail_build(output, tool)
lines = strsplit(output, sprintf('\n'));
fprintf('%s\n', lines{max(1, end - 20):end});
error('Mesh renumbering: %s failed to build the module (its last lines above)', tool);
end

% The new module, called once on a small table from its own folder (where the
% host looks first), must give the known answer.
function check_module(folder)
back = cd(folder);
restore = onCleanup(@() cd(back));
clear('meshLookup');
console = evalc('r = meshLookup([10 12 11; 12 13 11], [11 12 13 10]);');
if ~isequal(r, [4 2 1; 2 3 1])
  error('Mesh renumbering: the new module gave a wrong answer: %s', mat2str(r));
end
fprintf('%s', console);
end
