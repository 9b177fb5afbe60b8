# Installation and packaging rules (desktop entry, icons, metainfo, CPack).
