// The author's own header of the same name as one of Fernwick's: Fernwick's
// headers are included as <fernwick/framework/Classes.h> and never reach
// this one, which the project's include path puts first.
#pragma once
#error "the author's framework/Classes.h was included in place of Fernwick's"
