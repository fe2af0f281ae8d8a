# SPDX-License-Identifier: MIT
# Run inside KLayout: klayout -b -r klayout_properties.py -rd gds=FILE
# Prints, as JSON, every shape's and instance's properties by cell:
# [kind, layer, {attribute: value}].
import json

import pya

layout = pya.Layout()
layout.read(gds)  # noqa: F821 (set by -rd)
found = {}


def properties(thing):
    """KLayout 0.28 keeps an element's properties as a set: {attribute: value}."""
    return {str(k): v for k, v in layout.properties(thing.prop_id)} if thing.has_prop_id() else {}


for cell in layout.each_cell():
    items = []
    for index in layout.layer_indexes():
        info = layout.get_info(index)
        for shape in cell.shapes(index).each():
            kind = ("box" if shape.is_box() else "path" if shape.is_path() else "text" if shape.is_text()
                    else "polygon")
            items.append([kind, info.layer, properties(shape)])
    for inst in cell.each_inst():
        kind = "aref" if inst.is_regular_array() else "sref"
        items.append([kind, inst.cell.name, properties(inst)])
    found[cell.name] = sorted(items, key=json.dumps)
print(json.dumps(found, sort_keys=True))
