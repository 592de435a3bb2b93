/* Compiled into every MEX file built against this tree. The stand-in host
 * checks no API version, so there is nothing to define here. */
typedef int meshLookup_standin_version_unit;
