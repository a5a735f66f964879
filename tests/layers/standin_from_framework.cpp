// Compiled with the include path of the framework layer by the test
// layer_wall_framework_includes_standin, which passes only when the second
// include is refused: the layers do not see the stand-ins.
#include <fernwick/framework/Classes.h>
#include "standins/pdb/PdbFile.h"
