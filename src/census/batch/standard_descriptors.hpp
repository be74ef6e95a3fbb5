// Descriptors 0, 1 and 2 are never left closed: a file the program opens
// would take the lowest free number, and a closed standard output would make
// NN.txt receive the dialogue's texts among its records.
#pragma once

namespace census {

// Opens /dev/null read-only on each of 0, 1 and 2 that is closed: reads then
// see an empty input and writes fail, as they would on the closed descriptor,
// so the program reports a lost input or output as before. To be called first.
void guardStandardDescriptors();

}  // namespace census
