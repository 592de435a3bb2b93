function r = meshLookup(table, list)
% In the stand-in MATLAB session, a call goes to the module in the current
% folder, loaded by the stand-in host (MEXHOST), which first starts the
% OpenMP runtime MATLAB bundles (MEXHOST_RUNTIME).
rows = @(m) strjoin(cellfun(@(row) num2str(row, 17), num2cell(m, 2), 'UniformOutput', false), '; ');
module = fullfile(pwd(), ['meshLookup.' mexext()]);
[status, out] = system(sprintf('"%s" --runtime "%s" "%s" "%s" "%s"', getenv('MEXHOST'), ...
                               getenv('MEXHOST_RUNTIME'), module, rows(table), rows(list)));
if status ~= 0
  error('stand-in host: %s', out);
end
lines = strsplit(strtrim(out), "\n");
printf('%s\n', lines{1});
r = str2num(strjoin(lines(2:end), ';'));
end
