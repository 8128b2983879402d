// camlab models: the camera models of the models folder.
#include <cstdio>

#include "session.h"

namespace camlab {

int RunModels(const Options& options) {
  std::string error;
  std::vector<ModelFile> models = FindModels(ModelsFolder(options), &error);
  if (!error.empty()) {
    fprintf(stderr, "camlab: %s\n", error.c_str());
    return kExitNotFound;
  }
  if (options.json) {
    printf("{\"models\": [");
    for (size_t i = 0; i < models.size(); ++i) {
      printf("%s{\"name\": \"%s\", \"driver\": \"%s\", \"description\": \"%s\"}", i ? ", " : "",
             JsonEscape(models[i].name).c_str(), models[i].variant.c_str(),
             JsonEscape(models[i].description).c_str());
    }
    printf("]}\n");
    return kExitOk;
  }
  for (const ModelFile& model : models) {
    printf("%-16s %-8s %s\n", model.name.c_str(), model.variant.c_str(), model.description.c_str());
  }
  return kExitOk;
}

}  // namespace camlab
