// The function table handed to plug-ins, assembled once from the groups' entries.
#include "model_internal.h"

namespace hostmodel {
namespace {

HostFunctionTable Build() {
    HostFunctionTable t{};
    t.version = HOST_API_VERSION;
    detail::FillMemory(t.memory);
    detail::FillStrings(t.string);
    detail::FillFilenames(t.filename);
    detail::FillContainers(t.container);
    detail::FillObjects(t.object);
    detail::FillSplines(t.object, t.measurer);
    detail::FillBitmaps(t.bitmap);
    detail::FillResources(t.resource);
    detail::FillDescIDs(t.descid);
    detail::FillDraw(t.draw);
    detail::FillRegistration(t.registration, t.general);
    return t;
}

}  // namespace

const HostFunctionTable* Table() {
    static const HostFunctionTable table = Build();
    return &table;
}

HostFunctionTable MakeTable() {
    return *Table();
}

}  // namespace hostmodel
