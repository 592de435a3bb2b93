function mex(varargin)
% MATLAB's mex on Linux with its gcc options file, for the options a build
% script passes: -R2017b, -outdir, -output, -I, -D, VAR=VALUE (with $VAR, the
% options file's value, and $MATLABROOT expanded) and source files. As MATLAB's
% mex does, it compiles the tree's extern/version/c_mexapi_version.c in and
% links with the tree's export list; -Wl,--no-undefined makes every symbol
% resolve at link time. The tree has no libMatlabDataArray or libmat, so
% those are not linked.
root = matlabroot();
vars = struct( ...
  'CC', 'gcc', 'CXX', 'g++', ...
  'CFLAGS', '-fexceptions -fPIC -fno-omit-frame-pointer -pthread', ...
  'CXXFLAGS', '-fexceptions -fPIC -fno-omit-frame-pointer -pthread -std=c++11', ...
  'COPTIMFLAGS', '-O2 -fwrapv -DNDEBUG', 'CXXOPTIMFLAGS', '-O2 -fwrapv -DNDEBUG', ...
  'DEFINES', '-D_GNU_SOURCE -DMATLAB_MEX_FILE', ...
  'INCLUDE', '-I"$MATLABROOT/extern/include"', ...
  'LDFLAGS', '-pthread -Wl,--no-undefined', 'LDTYPE', '-shared', ...
  'LINKEXPORTVER', '-Wl,--version-script,"$MATLABROOT/extern/lib/glnxa64/c_exportsmexfileversion.map"', ...
  'LINKLIBS', '-Wl,--as-needed -Wl,-rpath-link,$MATLABROOT/bin/glnxa64 -L"$MATLABROOT/bin/glnxa64" -lmx -lmex -lm -lstdc++');
outdir = pwd();
name = '';
extra = '';
sources = {};
k = 1;
while k <= nargin
  a = varargin{k};
  if strcmp(a, '-R2017b')
    vars.DEFINES = [vars.DEFINES ' -DMATLAB_DEFAULT_RELEASE=R2017b'];
  elseif strcmp(a, '-outdir')
    k = k + 1;
    outdir = varargin{k};
  elseif strcmp(a, '-output')
    k = k + 1;
    name = varargin{k};
  elseif strncmp(a, '-I', 2) || strncmp(a, '-D', 2)
    extra = [extra ' "' a '"'];
  elseif any(a == '=') && isvarname(a(1:find(a == '=', 1) - 1))
    eq = find(a == '=', 1);
    var = a(1:eq - 1);
    vars.(var) = strrep(a(eq + 1:end), ['$' var], vars.(var));
  elseif a(1) == '-'
    error('stand-in mex: option %s is not supported', a);
  else
    sources{end + 1} = a;
  end
  k = k + 1;
end
if isempty(name)
  [~, name] = fileparts(sources{1});
end
expand = @(s) strrep(s, '$MATLABROOT', root);
work = tempname();
mkdir(work);
objects = '';
version_source = fullfile(root, 'extern', 'version', 'c_mexapi_version.c');
all_sources = [sources, {version_source}];
for k = 1:numel(all_sources)
  src = all_sources{k};
  obj = fullfile(work, sprintf('%d.o', k));
  if strcmp(src, version_source)
    cmd = sprintf('%s -c %s %s %s %s "%s" -o "%s"', vars.CC, vars.DEFINES, vars.INCLUDE, ...
                  vars.CFLAGS, vars.COPTIMFLAGS, src, obj);
  else
    cmd = sprintf('%s -c %s %s%s %s %s "%s" -o "%s"', vars.CXX, vars.DEFINES, vars.INCLUDE, ...
                  extra, vars.CXXFLAGS, vars.CXXOPTIMFLAGS, src, obj);
  end
  run(expand(cmd));
  objects = [objects ' "' obj '"'];
end
out = fullfile(outdir, [name '.' mexext()]);
run(expand(sprintf('%s %s %s %s %s %s -o "%s"', vars.CXX, vars.LDFLAGS, vars.LDTYPE, ...
                   vars.LINKEXPORTVER, objects, vars.LINKLIBS, out)));
confirm_recursive_rmdir(false);
rmdir(work, 's');
fprintf('MEX completed successfully.\n');
end

function run(cmd)
[status, output] = system(cmd);
if status ~= 0
  error('stand-in mex: %s\n%s', cmd, output);
end
end
