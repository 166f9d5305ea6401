#include "PageStyle.h"

namespace pelmora {

const char* const kPageStyle = R"(<style>
html { background: #f4f5f7; }
body { max-width: 72em; margin: 0 auto; padding: 1.2em 2em 2em 2em; background: #ffffff;
  color: #22262e; font-family: "DejaVu Sans", "Noto Sans", "Liberation Sans", Arial, sans-serif;
  font-size: 14px; line-height: 1.45; }
h1 { font-size: 1.5em; margin: 0.2em 0 0.1em 0; color: #12213f; }
h2 { font-size: 1.15em; margin: 1.4em 0 0.5em 0; color: #12213f;
  border-bottom: 2px solid #d9e6e8; padding-bottom: 0.2em; }
.video { margin: 0 0 0.9em 0; font-family: "DejaVu Sans Mono", "Liberation Mono", monospace;
  color: #3b4352; word-wrap: break-word; }
.facts { margin: 0; padding: 0; }
.fact { display: inline-block; vertical-align: top; min-width: 10em; margin: 0 0.5em 0.5em 0;
  padding: 0.35em 0.7em; background: #f3f8f9; border: 1px solid #d9e6e8; border-radius: 5px; }
.fact .label { display: block; font-size: 0.8em; color: #5a6372; }
.fact .value { display: block; font-weight: bold; color: #12213f; })";

}  // namespace pelmora
