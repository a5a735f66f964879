// A conduit's data module described as text, in the same streamed form as
// the dialog's form description (fernwick/framework/ObjectText.h):
//
//   object MemoModule: TMemoModule
//     object Conduit: TDorvConduit
//       ConduitName = 'Memo Pad'
//       DefaultAction = stFast
//     end
//     object MemoDb: TDorvConduitDb
//       FileName = 'MemoDB'
//       Fields = <
//         item
//           FieldName = 'Text'
//           DataType = pftString
//         end>
//     end
//   end
//
// Each inner object becomes a component of its class (TDorvConduit or
// TDorvConduitDb) owned by the module, named after the object; its published
// properties are assigned in text order through their setters, and the
// field lists (Fields, AppInfoFields, SortInfoFields) get one TDorvPalmField
// per item, whose properties are assigned in text order too. Events have no
// text form: handlers are assigned in code.
#pragma once

#include <string_view>
#include <vector>

#include <fernwick/framework/Classes.h>
#include <fernwick/framework/ObjectText.h>

namespace fernwick {

// Creates the components described by `text` with `module` as their owner
// and returns them in text order. Raises EParserError naming `source`, the
// line and the property for text that cannot be read, an unknown class or
// property, an event, or a value its property refuses; no component of the
// text is left behind then.
std::vector<TComponent*> ReadModuleText(std::string_view text, std::string_view source,
                                        TComponent& module);

}  // namespace fernwick
