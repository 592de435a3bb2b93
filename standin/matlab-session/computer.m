function r = computer(varargin)
% computer('arch'): the platform in MATLAB's names, from STANDIN_ARCH.
if nargin == 1 && strcmp(varargin{1}, 'arch')
  r = getenv('STANDIN_ARCH');
  if isempty(r)
    r = 'glnxa64';
  end
else
  r = builtin('computer', varargin{:});
end
end
