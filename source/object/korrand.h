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

// Writes the parameter defaults (those of a DashSettings made without values) into a container.
void WriteDashDefaults(BaseContainer* bc);

// Block sizes of the modify operation's arrays, in elements. Output arrays grow in large
// blocks, since a dashed segment holds many more points than the segment it replaces; a dash's
// two pieces in blocks of 4 values.
constexpr Int64 kOutputPointBlock = 12288;
constexpr Int64 kOutputSegmentBlock = 2048;
constexpr Int64 kPieceBlock = 4;

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
