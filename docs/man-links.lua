-- HTML reference: a reference to one of this manual's pages, written as
-- **name**(section), becomes a link to that page's HTML file; the manual
-- pages keep the plain text. Pages of other manuals stay text.
function Inlines(inlines)
  for i = #inlines - 1, 1, -1 do
    local name, after = inlines[i], inlines[i + 1]
    if name.t == "Strong" and after.t == "Str" then
      local section, rest = after.text:match("^%((%d)%)(.*)$")
      local page = pandoc.utils.stringify(name)
      if section and (page:match("^mbusSlave_") or page:match("^mbslave")) then
        local target = page .. "." .. section .. ".html"
        inlines[i] = pandoc.Link({ name, pandoc.Str("(" .. section .. ")") }, target)
        if rest == "" then
          inlines:remove(i + 1)
        else
          inlines[i + 1] = pandoc.Str(rest)
        end
      end
    end
  end
  return inlines
end
