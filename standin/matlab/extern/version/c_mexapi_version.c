/* Compiled into every MEX file built against this tree, as a MATLAB tree's own file is, and let
 * through by its export list: the module reports the release and the array API it was built for.
 * The stand-in host does not read them, so the stand-in reports none (zeros). */
void mexfilerequiredapiversion(unsigned int* built_by_release, unsigned int* target_api_version);

void mexfilerequiredapiversion(unsigned int* built_by_release, unsigned int* target_api_version) {
  *built_by_release = 0;
  *target_api_version = 0;
}
