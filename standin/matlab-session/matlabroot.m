function r = matlabroot()
% The stand-in MATLAB tree.
r = getenv('STANDIN_MATLABROOT');
end
