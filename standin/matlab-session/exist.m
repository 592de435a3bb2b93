function r = exist(varargin)
% MATLAB has no OCTAVE_VERSION; every other question goes to Octave's exist.
if nargin >= 1 && strcmp(varargin{1}, 'OCTAVE_VERSION')
  r = 0;
else
  r = builtin('exist', varargin{:});
end
end
