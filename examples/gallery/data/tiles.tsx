<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" tiledversion="1.8.2" name="tiles" tilewidth="16" tileheight="16" tilecount="16" columns="8">
 <image source="tiles.png" width="128" height="32"/>
 <tile id="4">
  <animation>
   <frame tileid="4" duration="150"/>
   <frame tileid="5" duration="150"/>
   <frame tileid="6" duration="150"/>
   <frame tileid="5" duration="150"/>
  </animation>
 </tile>
</tileset>
