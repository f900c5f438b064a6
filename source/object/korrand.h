// The dash modifier object: replaces every segment of a line object with dashes.
#ifndef KORRAND_KORRAND_H
#define KORRAND_KORRAND_H

#include "dash_pattern.h"
#include "ge_objectdata.h"
#include "okorrand.h"

using dash::DashSettings;

// Reads the snapshot from a modifier's container and normalises start and end. Returns false
// when the covered range is empty.
bool ReadDashSettings(const BaseContainer* bc, DashSettings* out);

// Writes the parameter defaults into a container.
void WriteDashDefaults(BaseContainer* bc);

class KorrandObject : public ObjectData {
public:
    bool Init(GeListNode* node) override;
    bool Message(GeListNode* node, Int32 type, void* data) override;
    bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix* op_mg,
                      const Matrix* mod_mg, Float lod, Int32 flags, BaseThread* thread) override;
};

// The allocation function registered with the host.
NodeData* AllocKorrandObject();

#endif
