function r = mexext()
% The MEX file extension of the platform computer('arch') names.
names = struct('glnxa64', 'mexa64', 'win64', 'mexw64', 'maca64', 'mexmaca64', 'maci64', 'mexmaci64');
r = names.(computer('arch'));
end
