function c = getCompilerConfigurations(language, which)
% The selected compiler, from STANDIN_COMPILER = 'ShortName:Manufacturer';
% empty when none is selected.
spec = getenv('STANDIN_COMPILER');
if isempty(spec)
  c = struct('ShortName', {}, 'Manufacturer', {});
  return
end
parts = strsplit(spec, ':');
c = struct('ShortName', parts{1}, 'Manufacturer', parts{2}, 'Language', language);
end
