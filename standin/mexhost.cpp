// mexhost MODULE TABLE LIST: loads a MEX module the way a host does, calls it
// with two double matrices and one result, and prints the console output and
// the result. Matrices are written as in MATLAB: "1 2 3; 4 5 6".
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"

namespace {

mxArray* parseMatrix(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::stringstream rowsIn(text);
  std::string row;
  while (std::getline(rowsIn, row, ';')) {
    for (char& c : row)
      if (c == ',') c = ' ';
    std::stringstream values(row);
    std::vector<double> r;
    std::string value;
    while (values >> value) r.push_back(std::strtod(value.c_str(), nullptr));
    if (!r.empty()) rows.push_back(r);
  }
  const size_t dims[2] = {rows.size(), rows.empty() ? 0 : rows[0].size()};
  for (const auto& r : rows)
    if (r.size() != dims[1]) return nullptr;
  mxArray* array = hostCreateArray(hostDouble, 2, dims, 0);
  double* data = mxGetPr(array);
  for (size_t i = 0; i < dims[0]; ++i)
    for (size_t j = 0; j < dims[1]; ++j) data[i + j * dims[0]] = rows[i][j];
  return array;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(
        stderr, "usage: %s MODULE TABLE LIST\n  e.g. %s meshLookup.mexa64 \"7 9; 9 8\" \"8 9 7\"\n",
        argv[0], argv[0]);
    return 2;
  }
  MexFunction entry = hostLoadModule(argv[1]);
  if (!entry) {
    std::fprintf(stderr, "%s\n", hostLastError());
    return 1;
  }
  const mxArray* args[2] = {parseMatrix(argv[2]), parseMatrix(argv[3])};
  if (!args[0] || !args[1]) {
    std::fprintf(stderr, "rows of different lengths\n");
    return 2;
  }
  hostSetEcho(1);
  mxArray* result[1];
  if (hostCall(entry, 1, result, 2, args) != 0) {
    std::fprintf(stderr, "error: %s\n", hostLastError());
    return 1;
  }
  const size_t rows = mxGetM(result[0]), cols = mxGetN(result[0]);
  const double* data = mxGetPr(result[0]);
  for (size_t i = 0; i < rows; ++i) {
    for (size_t j = 0; j < cols; ++j) std::printf(j ? " %.17g" : "%.17g", data[i + j * rows]);
    std::printf("\n");
  }
  return 0;
}
